"""klp.exe under Wine against the virtual unit, through the same serial harness as the program:
`read` shows and saves the unit's record, `monitor` logs the line as the Comms page does (the
Windows time format, CommsLog.txt's format in its file), and the failures keep their exit codes;
and over the network, through a real ser2net in front of a second virtual unit."""
import os
import re
import subprocess
import sys
import unittest

from harness import Session, env_path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "klp"))
from test_klp_network import Ser2net  # noqa: E402

DEFAULTS = bytes.fromhex("01000401641E05010205320C1206")


class KlpUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = Session("klp").start()
        try:
            cls.unit = cls.session.add_unit("--firmware", "2.6", "--traffic", "20", "--stations", "5", com=1)
            cls.session.add_unit("--silent", com=2, name="silent")
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def klp(self, *args, timeout=60):
        """Runs klp.exe; its output goes through files (a pipe may hang on Wine's services)."""
        env = dict(self.session.env)
        shim = os.environ.get("KLP_PTYSHIM")
        if shim:
            env["LD_PRELOAD"] = shim
        out_path = os.path.join(self.session.root, "klp.out")
        err_path = os.path.join(self.session.root, "klp.err")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run(["wine", env_path("KLP_PROGRAM")] + list(args), env=env,
                                  cwd=self.session.dir, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=timeout).returncode
        with open(out_path, encoding="latin-1") as out, open(err_path, encoding="latin-1") as err:
            return code, out.read(), err.read()

    def in_session(self, name):
        return os.path.join(self.session.dir, name)

    def test_1_read_shows_and_saves_the_units_record(self):
        saved = self.in_session("unit1.klp")
        code, out, err = self.klp("read", "--port", "COM1", "--slave", "1", "-o",
                                  self.session.windows_path(saved))
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out.startswith("Unit at address 1 on COM1: F/W v2.6, mode 0\n"
                                       "Dip Switch: 1 on, 2 on, 3 on, 4 -  =  VF, v.22.\n"), out)
        self.assertRegex(out, r"\n  Poll time +1000 mS +poll_time_ms\n")
        self.assertNotIn("\r", out)
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), DEFAULTS)

    def test_2_monitor_logs_the_line_as_the_comms_page_does(self):
        log = self.in_session("CommsLog.txt")
        code, out, err = self.klp("monitor", "--port", "COM1", "--polls", "--duration", "3",
                                  "--log", self.session.windows_path(log))
        self.assertEqual((code, err), (0, ""))
        lines = out.splitlines()
        self.assertRegex(lines[-1], r"^Polls/ACKs: \d+/\d+$")
        polls, acks = map(int, lines[-1].split(": ")[1].split("/"))
        self.assertEqual(polls, sum("Rx: Poll message" in line for line in lines))
        self.assertEqual(acks, sum("Rx: Ack " in line for line in lines))
        self.assertGreater(polls + acks, 5)
        for line in lines[:-1]:
            self.assertRegex(line, r"^[^\t]+\tID 5 Rx: ")
        with open(log, "rb") as f:
            logged = f.read().decode("latin-1").split("\r\n")
        self.assertEqual(logged[-1], "")
        self.assertEqual([line.split("\t", 1)[1] for line in logged[:-1]], lines[:-1])

    def test_3_failures_keep_their_exit_codes(self):
        cases = [
            (["read", "--port", "COM2", "--slave", "1", "--wait", "500"], 5,
             r"^klp: address 1 on COM2 did not answer the read request within 500 ms\.$"),
            (["read", "--port", "COM9", "--slave", "1"], 3, r"^klp: cannot open port COM9 at 9600 baud"),
            (["show", self.session.windows_path(self.in_session("none.klp"))], 4,
             r"^klp: Could not open config file: "),
            (["read", "--port", "COM1"], 2, r"--slave is required"),
        ]
        for args, expected, message in cases:
            with self.subTest(args=args):
                code, out, err = self.klp(*args)
                self.assertEqual(code, expected, err)
                self.assertRegex(err, re.compile(message, re.M))
                self.assertEqual(out, "")

    def test_4_network_ports_through_ser2net(self):
        sim = subprocess.Popen([env_path("KLP_SIM"), "--unit", "2", "--firmware", "2.7", "--traffic", "40"],
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        try:
            pty = sim.stdout.readline().strip()
            for rfc2217 in (False, True):
                with self.subTest(rfc2217=rfc2217), Ser2net(pty, rfc2217) as server:
                    code, out, err = self.klp("read", "--port", server.url, "--slave", "2")
                    self.assertEqual((code, err), (0, ""))
                    self.assertTrue(out.startswith(f"Unit at address 2 on {server.url}: F/W v2.7, mode 0\n"), out)
                    code, out, err = self.klp("monitor", "--port", server.url, "--polls", "--duration", "2")
                    self.assertEqual((code, err), (0, ""))
                    lines = out.splitlines()
                    self.assertRegex(lines[-1], r"^Polls/ACKs: [1-9]\d*/[1-9]\d*$")
                    for line in lines[:-1]:
                        self.assertRegex(line, r"^[^\t]+\tID 5 Rx: ")
                    if rfc2217:
                        self.assertEqual(server.modem()[-2:], [("DTR", 0), ("RTS", 0)])
                        self.assertIn(("RTS", 1), server.modem())
            code, out, err = self.klp("monitor", "--port", "tcp://127.0.0.1:1")
            self.assertEqual(code, 3)
            self.assertRegex(err, r"^klp: cannot open port tcp://127\.0\.0\.1:1: 127\.0\.0\.1:1 refused the connection")
        finally:
            sim.terminate()
            sim.wait(10)
            sim.stdout.close()
        capture = self.in_session("capture.pcap")
        with open(capture, "wb") as f:
            f.write(bytes.fromhex("D4C3B2A1") + bytes(20))
        code, out, err = self.klp("decode", self.session.windows_path(capture))
        self.assertEqual((code, out), (4, ""))
        self.assertIn("klp.exe does not read network captures; decode it with the Linux build", err)


if __name__ == "__main__":
    unittest.main(verbosity=2)
