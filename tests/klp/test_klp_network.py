"""klp over the network and captures, natively: every port command through a real ser2net
(raw TCP and RFC 2217) on the loopback in front of the virtual unit's pseudo-terminal, with the
modem shim preloaded so ser2net answers RTS and DTR; network captures decoded; and the Lua
dissector in a real tshark against klp's own decode. Run through CTest (it sets KLP, KLPSIM,
KLP_PTYSHIM, KLP_PCAP and KLP_DISSECTOR)."""
import json
import os
import signal
import socket
import subprocess
import tempfile
import termios
import time
import unittest

from test_klp import DEFAULTS, FAST, KLP, STAMPED, Case, Sim, run

SHIM = os.environ.get("KLP_PTYSHIM", "")
PCAP = os.environ.get("KLP_PCAP", "")
DISSECTOR = os.environ.get("KLP_DISSECTOR", "")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with open("/proc/net/tcp") as f:
        return any(line.split()[1].endswith(f":{port:04X}") and line.split()[3] == "0A"
                   for line in f.readlines()[1:])


class Ser2net:
    """ser2net 4 in front of one device on a free loopback port, raw TCP or RFC 2217, with the
    modem shim preloaded; each change of RTS or DTR it makes lands in self.modem_log."""

    def __init__(self, device, rfc2217):
        self.dir = tempfile.mkdtemp(prefix="klp-ser2net.")
        self.port = free_port()
        self.modem_log = os.path.join(self.dir, "modem")
        accepter = ("telnet(rfc2217)," if rfc2217 else "") + f"tcp,127.0.0.1,{self.port}"
        config = os.path.join(self.dir, "ser2net.yaml")
        with open(config, "w") as f:
            f.write(f"%YAML 1.1\n---\nconnection: &unit\n  accepter: {accepter}\n"
                    f"  connector: serialdev,{device},9600n81,local\n")
        env = dict(os.environ, LD_PRELOAD=SHIM, KLP_MODEM_LOG=self.modem_log)
        self.proc = subprocess.Popen(["ser2net", "-n", "-c", config, "-P", os.path.join(self.dir, "pid")],
                                     env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not listening(self.port):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.stop()
                raise RuntimeError("ser2net did not start")
            time.sleep(0.05)
        self.url = ("rfc2217" if rfc2217 else "tcp") + f"://127.0.0.1:{self.port}"

    def modem(self):
        """RTS and DTR changes as (line, state), in order."""
        if not os.path.exists(self.modem_log):
            return []
        with open(self.modem_log) as f:
            return [(line.split()[2], int(line.split()[3])) for line in f]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def pty_speed(device):
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        return termios.tcgetattr(fd)[4]
    finally:
        os.close(fd)


def without(text, *names):
    for name in names:
        text = text.replace(name, "PORT")
    return text


class NetworkPorts(Case):
    def setUp(self):
        super().setUp()
        if not SHIM:
            self.skipTest("run through CTest")

    def test_commands_give_what_they_give_on_the_local_port(self):
        record = bytearray(DEFAULTS)
        record[3] = 3
        new = self.path("new.klp")
        self.expect(run("set", "--defaults", new, "slave_id=3", "poll_time_ms=700"), 0)
        for rfc2217 in (False, True):
            with self.subTest(rfc2217=rfc2217), \
                    Sim("--unit", "3", "--record-hex", record.hex(), "--firmware", "3.1") as sim, \
                    Ser2net(sim.port, rfc2217) as server:
                commands = [["read", "--slave", 3], ["read", "--json", "--slave", 3],
                            ["scan", "--to", 5, "--wait", 300], ["scan", "--json", "--to", 5, "--wait", 300]]
                for command in commands:
                    local = run(*command, "--port", sim.port)
                    remote = run(*command, "--port", server.url)
                    self.expect(remote, 0)
                    self.assertEqual(without(remote.stdout, server.url), without(local.stdout, sim.port))
                written = run("write", "--port", server.url, "--slave", 3, *FAST, new)
                self.expect(written, 0)
                self.assertIn("the unit holds the record written", written.stdout)
                self.assertEqual(json.loads(run("read", "--json", "--port", server.url, "--slave", 3).stdout)
                                 ["record"]["poll_time_ms"], 700)
                self.assertEqual(sim.received("config")[-1].split()[:2], ["FB", "03"])

    def test_monitor_prints_the_log_as_on_a_local_port(self):
        for rfc2217 in (False, True):
            with self.subTest(rfc2217=rfc2217), Sim("--traffic", "200", "--stations", "5,6") as sim, \
                    Ser2net(sim.port, rfc2217) as server:
                result = run("monitor", "--port", server.url, "--polls", "--duration", "1", "--baud", 19200)
                self.expect(result, 0)
                self.assertEqual(result.stderr, "")
                lines = result.stdout.splitlines()
                counter = lines.index(next(l for l in lines if l.startswith("Polls/ACKs: ")))
                self.assertGreater(counter, 50)
                for line in lines[:counter]:
                    self.assertRegex(line, STAMPED)
                polls, acks = map(int, lines[counter].split(": ")[1].split("/"))
                self.assertEqual(polls, sum("Poll message" in l for l in lines[:counter]))
                self.assertEqual(acks, sum(" Rx: Ack " in l for l in lines[:counter]))

    def test_rfc2217_sets_the_rate_and_raises_and_drops_rts_and_dtr(self):
        speeds = {1200: termios.B1200, 9600: termios.B9600, 19200: termios.B19200}
        for baud, speed in speeds.items():
            with self.subTest(baud=baud), Sim() as sim, Ser2net(sim.port, True) as server:
                proc = subprocess.Popen([KLP, "monitor", "--port", server.url, "--baud", str(baud)],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                try:
                    deadline = time.monotonic() + 5
                    while server.modem()[-2:] != [("RTS", 1), ("DTR", 1)] and time.monotonic() < deadline:
                        time.sleep(0.05)
                    self.assertEqual(server.modem()[-2:], [("RTS", 1), ("DTR", 1)])
                    # The open returns once the server confirmed the rate: it is set by now.
                    self.assertEqual(pty_speed(sim.port), speed)
                finally:
                    proc.send_signal(signal.SIGINT)
                    self.assertEqual((proc.wait(10), proc.stderr.read()), (0, ""))
                    proc.stderr.close()
                self.assertEqual(server.modem()[-2:], [("DTR", 0), ("RTS", 0)])

    def test_stopping_the_server_ends_monitor_as_an_unplugged_adapter(self):
        for rfc2217 in (False, True):
            with self.subTest(rfc2217=rfc2217), Sim("--traffic", "50") as sim, Ser2net(sim.port, rfc2217) as server:
                proc = subprocess.Popen([KLP, "monitor", "--port", server.url], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, encoding="latin-1")
                time.sleep(0.7)
                server.stop()
                out, err = proc.communicate(timeout=10)
                self.assertEqual(proc.returncode, 3, err)
                self.assertEqual(err, f"klp: connection to 127.0.0.1:{server.port} was closed.\n")
                self.assertRegex(out, r"\nPolls/ACKs: \d+/\d+\n$")

    def test_ports_that_cannot_be_reached_say_why(self):
        nobody = free_port()
        with Sim() as sim, Ser2net(sim.port, False) as raw:
            cases = [
                ([f"tcp://127.0.0.1:{nobody}"], rf"127\.0\.0\.1:{nobody} refused the connection"),
                ([f"rfc2217://127.0.0.1:{nobody}"], r"refused the connection"),
                (["tcp://no-such-unit.invalid:2001"], r"the name no-such-unit\.invalid does not resolve"),
                (["tcp://127.0.0.1:70000"], r"a network port is tcp://HOST:PORT or rfc2217://HOST:PORT"),
                (["tcp://127.0.0.1"], r"a network port is tcp://HOST:PORT"),
                # A raw TCP server never takes the COM port option: given up after the time-out.
                ([raw.url.replace("tcp", "rfc2217"), "--connect-timeout", "0.5"],
                 r"did not set the line over RFC 2217 in time"),
            ]
            for args, message in cases:
                with self.subTest(args=args):
                    started = time.monotonic()
                    result = run("read", "--slave", 1, "--port", *args)
                    self.expect(result, 3, rf"^klp: cannot open port {args[0]}: .*{message}")
                    self.assertLess(time.monotonic() - started, 4)
                    self.assertEqual(result.stdout, "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
