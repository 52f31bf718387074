"""klp over the network and captures, natively: every port command through a real ser2net
(raw TCP and RFC 2217) on the loopback in front of the virtual unit's pseudo-terminal, with the
modem shim preloaded so ser2net answers RTS and DTR; network captures decoded; and the Lua
dissector in a real tshark against klp's own decode. Run through CTest (it sets KLP, KLPSIM,
KLP_PTYSHIM, KLP_PCAP and KLP_DISSECTOR)."""
import json
import os
import selectors
import signal
import socket
import struct
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
                # Once a line came through, the connection is up: then the server goes.
                with selectors.DefaultSelector() as sel:
                    sel.register(proc.stdout, selectors.EVENT_READ)
                    self.assertTrue(sel.select(10), "no line came through ser2net")
                first = proc.stdout.readline()
                server.stop()
                out, err = proc.communicate(timeout=10)
                out = first + out
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


# Captures written here, byte for byte, so each case holds exactly the fault it is about.
def crc_arc(data, crc=0):
    for b in data:
        crc ^= b
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame(header, address, data=b""):
    """A Genisys frame with its CRC-16/ARC, escaped as on the wire."""
    body = bytes([address]) + bytes(data)
    crc = crc_arc(bytes([header]) + body)
    out = bytearray([header])
    for b in body + bytes([crc & 0xFF, crc >> 8]):
        out += bytes([0xF0, b - 0xF0]) if b >= 0xF0 else bytes([b])
    return bytes(out + b"\xF6")


def checksum(data):
    data += b"\0" * (len(data) % 2)
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def ethernet(src, dst, sport, dport, payload, seq=None, flags=0x18):
    """An Ethernet frame with IPv4 and TCP (seq given) or UDP (seq None)."""
    if seq is None:
        transport = struct.pack("!HHHH", sport, dport, 8 + len(payload), 0) + payload
        proto = 17
    else:
        transport = struct.pack("!HHIIBBHHH", sport, dport, seq, 0, 5 << 4, flags, 65535, 0, 0) + payload
        proto = 6
    ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(transport), 0, 0, 64, proto, 0,
                     socket.inet_aton(src), socket.inet_aton(dst))
    ip = ip[:10] + struct.pack("!H", checksum(ip)) + ip[12:]
    return b"\x02\0\0\0\0\x02" + b"\x02\0\0\0\0\x01" + b"\x08\x00" + ip + transport


def write_pcap(path, packets, linktype=1):
    """packets: (seconds, bytes)."""
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, linktype))
        for t, data in packets:
            f.write(struct.pack("<IIII", int(t), round(t % 1 * 1e6), len(data), len(data)) + data)


def write_pcapng(path, interfaces, packets):
    """interfaces: link types; packets: (interface, seconds, bytes)."""
    def block(kind, body):
        body += b"\0" * (-len(body) % 4)
        return struct.pack("<II", kind, len(body) + 12) + body + struct.pack("<I", len(body) + 12)
    with open(path, "wb") as f:
        f.write(block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1)))
        for linktype in interfaces:
            f.write(block(1, struct.pack("<HHI", linktype, 0, 65535)))
        for interface, t, data in packets:
            stamp = round(t * 1e6)
            f.write(block(6, struct.pack("<IIIII", interface, stamp >> 32, stamp & 0xFFFFFFFF,
                                         len(data), len(data)) + data))


def read_pcap_streams(path):
    """The TCP payload of each direction of an Ethernet/IPv4 pcap, in capture order."""
    with open(path, "rb") as f:
        data = f.read()
    at, streams = 24, {}
    while at + 16 <= len(data):
        length = struct.unpack("<I", data[at + 8:at + 12])[0]
        packet = data[at + 16:at + 16 + length]
        at += 16 + length
        ip = packet[14:]
        if packet[12:14] != b"\x08\x00" or ip[9] != 6:
            continue
        tcp = ip[(ip[0] & 15) * 4:struct.unpack("!H", ip[2:4])[0]]
        key = (socket.inet_ntoa(ip[12:16]) + ":" + str(struct.unpack("!H", tcp[0:2])[0]) + " > " +
               socket.inet_ntoa(ip[16:20]) + ":" + str(struct.unpack("!H", tcp[2:4])[0]))
        streams[key] = streams.get(key, b"") + tcp[(tcp[12] >> 4) * 4:]
    return streams


def decoded(result):
    """klp decode --json's output as objects."""
    return [json.loads(line) for line in result.stdout.splitlines()]


MASTER, STATION = "10.0.0.1", "10.0.0.2"
FRAMES = [frame(0xFB, 1, b"\x01"), frame(0xF2, 1, b"\x00\x05\x01\xF7"), frame(0xFD, 1),
          frame(0xFC, 2, b"\x03\x30"), frame(0xF3, 2, b"\x03\x30"), frame(0xF9, 3, b"\x01\x02")]


class Captures(Case):
    def decode_lines(self, *args):
        result = run("decode", *args)
        self.expect(result, 0)
        return result.stdout.splitlines()

    def test_the_fixture_gives_each_directions_frames(self):
        streams = read_pcap_streams(PCAP)
        self.assertEqual(len(streams), 2)
        lines = self.decode_lines("--polls", "--crc", "modbus", PCAP)
        for direction, payload in streams.items():
            with self.subTest(direction=direction):
                raw = self.path("direction.bin", payload)
                expected = self.decode_lines("--polls", "--crc", "modbus", raw)[:-1]
                got = [line.split("\t") for line in lines if f"\t{direction}\t" in line]
                self.assertEqual([g[2] for g in got], expected)
                for stamp, _, _ in got:
                    self.assertRegex(stamp, r"^2022-02-22 15:42:\d\d\.\d{6}$")
        self.assertEqual(lines[-1], "Polls/ACKs: 313/217")
        port = decoded(run("decode", "--json", "--port", "10001", PCAP))
        self.assertEqual(port, decoded(run("decode", "--json", PCAP)))
        self.assertEqual(decoded(run("decode", "--json", "--port", "10002", PCAP)),
                         [{"type": "counter", "polls": 0, "acks": 0}])

    def test_tcp_segments_are_taken_in_sequence_order(self):
        stream = b"".join(FRAMES)
        cuts = [0, 3, 9, 17, 20, 28, len(stream)]
        start = 2**32 - 15  # the sequence numbers wrap past 2^32 in the middle of the stream
        segments = [((start + a) % 2**32, stream[a:b]) for a, b in zip(cuts, cuts[1:])]
        # The connection's SYN tells where the stream starts; then the segments in the order
        # captured.
        syn = (1699999999, ethernet(STATION, MASTER, 20000, 1234, b"", start - 1, 0x02))
        orders = {
            "in order": [0, 1, 2, 3, 4, 5],
            "out of order": [1, 0, 3, 2, 5, 4],
            "retransmitted": [0, 1, 1, 2, 0, 3, 4, 5, 5],
            "last first": [5, 4, 3, 2, 1, 0],
        }
        expected = self.decode_lines(self.path("stream.bin", stream))[:-1]
        self.assertEqual(len(expected), 5)  # all but the poll, which is counted, not shown
        for name, order in orders.items():
            with self.subTest(order=name):
                packets = [syn] + [(1700000000 + i / 10, ethernet(STATION, MASTER, 20000, 1234, segments[k][1], segments[k][0]))
                                   for i, k in enumerate(order)]
                capture = self.path("segments.pcap")
                write_pcap(capture, packets)
                lines = self.decode_lines(capture)
                self.assertEqual([l.split("\t")[2] for l in lines[:-1]], expected)
                self.assertTrue(all(l.split("\t")[1] == "10.0.0.2:20000 > 10.0.0.1:1234" for l in lines[:-1]))
        # A segment never captured: said once where it was noticed; the frames it cut into are
        # lost (their rest is unknown data), never joined across the gap.
        packets = [(1700000000 + i, ethernet(STATION, MASTER, 20000, 1234, segments[k][1], segments[k][0]))
                   for i, k in enumerate([0, 1, 3, 3, 4, 5])]
        capture = self.path("gap.pcap")
        write_pcap(capture, packets)
        objects = decoded(run("decode", "--json", capture))
        gaps = [o for o in objects if o["type"] == "gap"]
        self.assertEqual(gaps, [{"type": "gap", "time": "2023-11-14 22:13:22.000000",
                                 "direction": "10.0.0.2:20000 > 10.0.0.1:1234", "bytes": 8}])
        self.assertEqual([(o["header"], o["time"][-15:]) for o in objects if o["type"] == "line" and o["header"]],
                         [("FC", "22:13:24.000000"), ("F3", "22:13:25.000000"),
                          ("F9", "22:13:25.000000")])

    def test_pcapng_with_two_interfaces_and_udp(self):
        # The master's polls on one interface, the station's answers by UDP on the other.
        packets = [(0, 1700000000.25, ethernet(MASTER, STATION, 1234, 20000, FRAMES[0], 1)),
                   (1, 1700000000.5, ethernet(STATION, MASTER, 20001, 1235, FRAMES[1] + FRAMES[2])),
                   (0, 1700000001.0, ethernet(MASTER, STATION, 1234, 20000, FRAMES[3], 1 + len(FRAMES[0]))),
                   (1, 1700000001.5, ethernet(STATION, MASTER, 20001, 1235, FRAMES[4][:4])),
                   (1, 1700000002.0, ethernet(STATION, MASTER, 20001, 1235, FRAMES[4][4:]))]
        capture = self.path("two.pcap")  # a pcapng, whatever its name says
        write_pcapng(capture, [1, 1], packets)
        lines = self.decode_lines("--polls", capture)
        self.assertEqual(lines, [
            "2023-11-14 22:13:20.250000\t10.0.0.1:1234 > 10.0.0.2:20000\tID 1 Rx: Poll message (secure).",
            "2023-11-14 22:13:20.500000\t10.0.0.2:20001 > 10.0.0.1:1235\tID 1 Rx: Indication data message: 00-05 01-F7.",
            "2023-11-14 22:13:20.500000\t10.0.0.2:20001 > 10.0.0.1:1235\tID 1 Rx: Recall message.",
            "2023-11-14 22:13:21.000000\t10.0.0.1:1234 > 10.0.0.2:20000\tID 2 Rx: Control message: 03-30.",
            "2023-11-14 22:13:22.000000\t10.0.0.2:20001 > 10.0.0.1:1235\tID 2 Rx: Control checkback message: 03-30.",
            "Polls/ACKs: 1/0"])
        self.assertEqual(self.decode_lines("--port", "20001", capture)[-2][-36:],
                         "ID 2 Rx: Control checkback message: 03-30."[-36:])
        self.assertEqual(len(self.decode_lines("--port", "20001", capture)), 4)

    def test_files_that_are_no_whole_capture(self):
        with open(PCAP, "rb") as f:
            fixture = f.read()
        cut = self.path("cut.pcap", fixture[:5000])
        cases = [
            (cut, 4, r"^klp: the capture .*cut\.pcap is cut short after \d+ packets \(.*truncated"),
            (self.path("header.pcap", fixture[:10]), 4, r"^klp: cannot read the capture .*header\.pcap: "),
            (self.path("text.pcap", b"not a capture at all"), 4, r"^klp: .*text\.pcap is neither a pcap nor a pcapng capture"),
            (self.path("empty.pcapng", b""), 4, r"is neither a pcap nor a pcapng capture"),
        ]
        for path, code, message in cases:
            with self.subTest(path=os.path.basename(path)):
                self.expect(run("decode", path), code, message)
        # What came before the cut is decoded and counted.
        result = run("decode", "--polls", "--crc", "modbus", cut)
        self.assertGreater(len(result.stdout.splitlines()), 20)
        self.assertRegex(result.stdout, r"\nPolls/ACKs: [1-9]\d*/[1-9]\d*\n$")
        with open(PCAP, "rb") as capture:
            self.expect(run("decode", stdin=capture), 4, r"a network capture is read from a file")


def tshark_frames(capture, *options):
    """The Genisys frames tshark's dissector finds: (direction, header, station, CRC verdict)
    in order, a frame without a CRC field (an insecure poll or acknowledgement) as good."""
    result = subprocess.run(["tshark", "-r", capture, "-X", f"lua_script:{DISSECTOR}", *options,
                             "-Y", "genisys", "-T", "json", "--no-duplicate-keys", "-J", "genisys ip tcp udp"],
                            capture_output=True, text=True, timeout=60)
    if result.returncode != 0 or "Lua" in result.stderr:
        raise AssertionError(result.stderr)
    frames = []
    for packet in json.loads(result.stdout or "[]"):
        layers = packet["_source"]["layers"]
        direction = "line"
        if "ip" in layers:
            transport = layers.get("tcp") or layers.get("udp")
            port = "tcp.srcport" if "tcp" in layers else "udp.srcport"
            dport = port.replace("src", "dst")
            direction = (f"{layers['ip']['ip.src']}:{transport[port]} > "
                         f"{layers['ip']['ip.dst']}:{transport[dport]}")
        found = layers["genisys"]
        for f in found if isinstance(found, list) else [found]:
            station = f.get("genisys.station")
            frames.append((direction, f["genisys.header"][2:].upper(),
                           int(station) if station is not None else None, f.get("genisys.crc_status", "good")))
    return frames


def klp_frames(capture, *options):
    """The same from klp decode --json: the lines of frames, with their verdicts."""
    verdicts = {"crc_failed": "bad", "config": "config", "traffic": "good", "poll_or_ack": "good"}
    result = run("decode", "--json", "--polls", *options, capture)
    return [(o.get("direction", "line"), o["header"], o["address"], verdicts[o["kind"]])
            for o in decoded(result) if o["type"] == "line" and o["kind"] != "unknown_data"]


class Dissector(Case):
    def setUp(self):
        super().setUp()
        if not DISSECTOR:
            self.skipTest("run through CTest")

    def assertSameFrames(self, capture, klp_options, tshark_options):
        klp = klp_frames(capture, *klp_options)
        shark = tshark_frames(capture, *tshark_options)
        for direction in {f[0] for f in klp + shark}:
            self.assertEqual([f for f in shark if f[0] == direction], [f for f in klp if f[0] == direction],
                             direction)
        return klp

    def test_the_fixture_as_klp_decodes_it(self):
        # (klp's --crc, the dissector's preference, frames passing their CRC, failing)
        cases = [("arc", "arc", 217, 471), ("modbus", "modbus", 657, 31), ("auto", "auto", 657, 31)]
        for crc, pref, good, bad in cases:
            with self.subTest(crc=crc):
                frames = self.assertSameFrames(PCAP, ["--crc", crc], ["-o", "genisys.tcp_ports:10001",
                                                                      "-o", f"genisys.crc:{pref}"])
                verdicts = [f[3] for f in frames]
                self.assertEqual((verdicts.count("good"), verdicts.count("bad")), (good, bad))
        # "Decode As" on any port finds the same as the preference.
        self.assertEqual(tshark_frames(PCAP, "-d", "tcp.port==10001,genisys"),
                         tshark_frames(PCAP, "-o", "genisys.tcp_ports:10001"))

    def test_frames_split_joined_and_over_udp(self):
        # A frame split over three segments, several in one, configuration frames, over TCP and
        # UDP at once.
        config = frame(0xF2, 4, b"\x01\x02")
        config = config[:-3] + bytes([config[-3] ^ 0x0F, config[-2] ^ 0x0F]) + b"\xF6"  # marker
        stream = b"".join(FRAMES) + config + frame(0xF1, 9)
        packets = [(1700000000, ethernet(STATION, MASTER, 20000, 1234, b"", 99, 0x02))]
        for i, (a, b) in enumerate([(0, 2), (2, 5), (5, 30), (30, len(stream))]):
            packets.append((1700000001 + i, ethernet(STATION, MASTER, 20000, 1234, stream[a:b], 100 + a)))
        packets.append((1700000009, ethernet(MASTER, STATION, 5000, 5001, FRAMES[3] + FRAMES[0])))
        capture = self.path("mixed.pcap")
        write_pcap(capture, packets)
        frames = self.assertSameFrames(capture, [], ["-o", "genisys.tcp_ports:20000", "-o", "genisys.udp_ports:5001"])
        self.assertEqual([f[1] for f in frames], ["FB", "F2", "FD", "FC", "F3", "F9", "F2", "F1", "FC", "FB"])
        self.assertEqual(frames[6][3], "config")

    def test_a_monitors_capture_opens_in_tshark_as_klp_decodes_it(self):
        capture = self.path("line.pcapng")
        with Sim("--traffic", "200", "--stations", "5,6") as sim:
            monitored = run("monitor", "--port", sim.port, "--polls", "--duration", "1", "--pcap", capture)
        self.expect(monitored, 0)
        frames = self.assertSameFrames(capture, [], [])
        self.assertGreater(len(frames), 100)
        self.assertEqual({f[0] for f in frames}, {"line"})
        # The capture holds what the monitor printed, line for line, with the same counter.
        shown = [line.split("\t")[1] for line in monitored.stdout.splitlines()[:-1]]
        again = self.decode_lines_of(capture)
        self.assertEqual([line.split("\t")[2] for line in again[:-1]], shown)
        self.assertEqual(again[-1], monitored.stdout.splitlines()[-1])
        for line in again[:-1]:
            self.assertRegex(line, r"^20\d\d-\d\d-\d\d \d\d:\d\d:\d\d\.\d{6}\tline\t")
        # A capture that cannot be written stops the monitor like a failed log.
        with Sim("--traffic", "100") as sim:
            full = run("monitor", "--port", sim.port, "--duration", "5", "--pcap", "/dev/full")
        self.expect(full, 4, r"^klp: cannot write to the capture /dev/full\.$")
        self.assertRegex(full.stdout, r"(^|\n)Polls/ACKs: \d+/\d+\n$")

    def decode_lines_of(self, capture):
        result = run("decode", "--polls", capture)
        self.expect(result, 0)
        return result.stdout.splitlines()


if __name__ == "__main__":
    unittest.main(verbosity=2)
