"""klp end to end, natively: each command against the virtual unit (klpsim) on a
pseudo-terminal, including units that are silent, late or answer with a bad CRC and a write that
moves the unit to a new slave ID; and tables of bad usage and bad files with their message and
exit code. Run through CTest (it sets KLP, KLPSIM and KLP_CAPTURE)."""
import fcntl
import json
import os
import re
import selectors
import signal
import struct
import subprocess
import tempfile
import socket
import sys
import termios
import time
import unittest
import urllib.request

KLP = os.environ.get("KLP", "")
KLPSIM = os.environ.get("KLPSIM", "")
CAPTURE = os.environ.get("KLP_CAPTURE", "")
DEFAULTS = bytes.fromhex("01000401641E05010205320C1206")
STAMPED = re.compile(r"^\d\d:\d\d:\d\d\t(ID \d+ Rx: .+|CRC failed: .+|Received unknown data\.)$")
FAST = ["--wait", "500", "--reset-ms", "500"]  # klpsim below resets in 300 ms


def run(*args, stdin=None, timeout=60):
    return subprocess.run([KLP] + [str(a) for a in args], stdin=stdin, capture_output=True,
                          timeout=timeout, encoding="latin-1")


class Sim:
    """klpsim on a pseudo-terminal for one test; its --verbose report is kept in a file."""

    def __init__(self, *args, reset_ms=300):
        self.dir = tempfile.mkdtemp(prefix="klp-sim.")
        self.report = open(os.path.join(self.dir, "report"), "w+")
        # A unit's options follow its --unit: the quick reset is the last unit's, the one written.
        self.proc = subprocess.Popen([KLPSIM, "--verbose"] + list(args) + ["--reset-ms", str(reset_ms)],
                                     stdout=subprocess.PIPE, stderr=self.report, text=True)
        with selectors.DefaultSelector() as sel:
            sel.register(self.proc.stdout, selectors.EVENT_READ)
            ready = sel.select(10)
        self.port = self.proc.stdout.readline().strip() if ready else ""
        if not self.port.startswith("/dev/"):
            self.stop()
            raise RuntimeError(f"klpsim did not start: {self.port!r}")

    def received(self, kind):
        """Frames the unit received, as klpsim reports them: 'rx config: FE 07 ...'."""
        self.report.flush()
        with open(self.report.name) as f:
            return [line.split(":", 1)[1].strip() for line in f if line.startswith(f"rx {kind}:")]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stdout.close()
        self.report.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


class Case(unittest.TestCase):
    def setUp(self):
        if not KLP or not KLPSIM:
            self.skipTest("run through CTest")
        self.dir = tempfile.mkdtemp(prefix="klp-test.")

    def path(self, name, content=None):
        path = os.path.join(self.dir, name)
        if content is not None:
            with open(path, "wb") as f:
                f.write(content)
        return path

    def read_bytes(self, path):
        with open(path, "rb") as f:
            return f.read()

    def expect(self, result, code, message=None):
        self.assertEqual(result.returncode, code, result.stderr)
        if message:
            self.assertRegex(result.stderr, re.compile(message, re.M))


class FilesAndUsage(Case):
    def test_bad_usage_and_bad_files(self):
        good = self.path("good.klp", DEFAULTS)
        short = self.path("short.klp", DEFAULTS[:13])
        long = self.path("long.klp", DEFAULTS + b"\0")
        plain = self.path("plain.txt", b"not a port")
        missing = self.path("missing.klp")
        nowhere = os.path.join(self.dir, "no-such-folder", "x.klp")
        cases = [
            ([], 2, r"a command is required"),
            (["bogus"], 2, r"^klp: 'bogus' is not a klp command; 'klp --help' lists them\.$"),
            (["scna", "--port", "/dev/null"], 2, r"^klp: 'scna' is not a klp command; did you mean 'scan'\?$"),
            (["scan", "--prot", plain], 2, r"^klp: klp scan has no option --prot; did you mean --port\?$"),
            (["help", "scna"], 2, r"did you mean 'scan'"),
            (["read", "--port", plain, "-s", "abc"], 2, r"^klp: --slave takes 1 to 255, not 'abc'\.$"),
            (["read", "--port", plain, "-s", "0x07"], 2, r"^klp: --slave takes 1 to 255, not '0x07'\.$"),
            (["read", "--port", "", "-s", "1"], 2, r"^klp: --port needs a value\.$"),
            (["read", "--port", plain, "-s", "1", "-o", ""], 2, r"^klp: --output needs a value\.$"),
            (["monitor", "--port", plain, "--duration", "nan"], 2, r"--duration takes a number of seconds above 0 and up to 315360000, not 'nan'"),
            (["monitor", "--port", plain, "--duration", "1e999"], 2, r"not '1e999'\.$"),
            (["monitor", "--port", plain, "--time", "utc"], 2, r"--time"),
            (["set", good, "baud=1"], 2, r"baud takes one of 1200, 2400, 4800, 9600, 19200, not '1'"),
            (["read", "--slave", "1"], 2, r"--port is required"),
            (["read", "--port", plain, "--slave", "0"], 2, r"--slave"),
            (["read", "--port", plain, "--slave", "1", "--baud", "1234"], 2, r"--baud"),
            (["monitor", "--port", plain, "--duration", "0"], 2, r"^klp: --duration takes a number of seconds above 0 and up to 315360000, not '0'\.$"),
            (["scan", "--port", plain, "--from", "9", "--to", "3"], 2, r"--from 9 is above --to 3"),
            (["set", good], 2, r"assignments is required"),
            (["set", good, "poll_time_ms=99"], 2, r"poll_time_ms takes 100 to 2550 mS, in steps of 10"),
            (["set", good, "poll_time_ms=2560"], 2, r"100 to 2550 mS"),
            (["set", good, "preamble_ms=1701"], 2, r"preamble_ms takes 0 to 1700 mS"),
            (["set", good, "slave_id=0"], 2, r"slave_id takes 1 to 255, not '0'"),
            (["set", good, "s2_id1=64"], 2, r"s2_id1 takes 0 to 63"),
            (["set", good, "timeout=2"], 2, r"timeout takes 3 to 255 Sec"),
            (["set", good, "baud=1234"], 2, r"baud takes one of 1200, 2400, 4800, 9600, 19200"),
            (["set", good, "baud=1"], 2, r"baud takes one of 1200, 2400, 4800, 9600, 19200, not '1'\.$"),  # the stored code
            (["set", good, "baud=5"], 2, r"baud takes one of .*, not '5'\.$"),
            (["set", good, "direct_baud=11"], 2, r"direct_baud takes one of .*, not '11'\.$"),
            (["set", good, "direct_baud=19200"], 2, r"direct_baud takes one of 300/1200, .* 9600/1200"),
            (["set", good, "direct_baud=115200"], 2, r"direct_baud takes one of .*, not '115200'\.$"),
            (["set", good, "direct_baud=960"], 2, r"direct_baud takes one of .*, not '960'\.$"),
            (["set", good, "direct_baud=2400/1200"], 2, r"direct_baud takes one of .*, not '2400/1200'\.$"),
            (["set", good, "secure_polls=maybe"], 2, r"secure_polls takes on or off"),
            (["set", good, "slave_id=-3"], 2, r"slave_id takes 1 to 255"),
            (["set", good, "nonsense"], 2, r"'nonsense' is not FIELD=VALUE"),
            (["set", good, "colour=red"], 2, r"there is no field 'colour'; the fields are slave_id, "),
            (["set", good, "slave_id=9", "baud=7"], 2, r"baud takes"),  # nothing of it is saved
            (["read", "--port", missing, "--slave", "1"], 3, r"cannot open port .*missing\.klp at 9600 baud: it is missing"),
            (["read", "--port", plain, "--slave", "1"], 3, r"plain\.txt .*not a serial port"),
            (["monitor", "--port", missing], 3, r"cannot open port"),
            (["show", missing], 4, r"Could not open config file: .*missing\.klp"),
            (["show", short], 4, r"Config file is wrong size: .*short\.klp \(a \.klp file holds exactly 14"),
            (["show", long], 4, r"Config file is wrong size"),
            (["show", self.dir], 4, r"Could not open config file"),
            (["diff", good, long], 4, r"long\.klp"),
            (["set", short, "slave_id=2"], 4, r"wrong size"),
            (["set", "--defaults", nowhere, "slave_id=2"], 4, r"Failed to create/open config file: .*x\.klp"),
            (["write", "--port", plain, "--slave", "1", missing], 4, r"Could not open config file"),
            (["decode", missing], 4, r"cannot open the capture .*missing\.klp"),
            (["monitor", "--port", plain, "--log", nowhere], 4, r"cannot open the log file .*x\.klp"),
            (["monitor", "--port", plain, "--pcap", nowhere], 4, r"cannot create the capture .*x\.klp"),
            (["monitor", "--port", "tcp://127.0.0.1:1", "--connect-timeout", "0"], 2, r"--connect-timeout"),
            (["decode", "--port", "0", missing], 2, r"--port"),
        ]
        before = {p: self.read_bytes(p) for p in (good, short, long)}
        for args, code, message in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.expect(result, code, message)
                self.assertTrue(result.stderr.startswith("klp: "), result.stderr)
                self.assertEqual(result.stdout, "")
        # Nothing refused was half-done: the files are as they were, and nothing new appeared.
        self.assertEqual({p: self.read_bytes(p) for p in before}, before)
        self.assertEqual(sorted(os.listdir(self.dir)), ["good.klp", "long.klp", "plain.txt", "short.klp"])

    def test_help_and_version(self):
        self.assertRegex(run("--version").stdout, r"^klp \d+\.\d+\.\d+\.\d+\n$")
        self.assertEqual(run("-V").stdout, run("--version").stdout)
        main = run("help")
        self.expect(main, 0)
        self.assertEqual(main.stdout, run("--help").stdout)
        self.assertEqual(main.stdout.count("Exit codes:"), 1)
        self.assertIn("\n  7  two units answered at one address", main.stdout)
        self.assertIn("\n130  interrupted (Ctrl-C)", main.stdout)
        # The README's table says what --help says, code for code.
        helped = re.findall(r"^ *(\d+)  (.+(?:\n {5}.+)*)", main.stdout.split("Exit codes:\n")[1], re.M)
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md")) as f:
            readme = re.findall(r"^\| (\d+) \| (.+) \|$", f.read(), re.M)
        self.assertEqual([(c, t.replace("`", "")) for c, t in readme],
                         [(c, re.sub(r"\n +", " ", t)) for c, t in helped])
        for command in ["monitor", "decode", "scan", "read", "write", "show", "diff", "set"]:
            with self.subTest(command=command):
                shown = run("help", command)
                self.expect(shown, 0)
                self.assertEqual(shown.stdout, run(command, "--help").stdout)
                self.assertNotIn("Exit codes:", shown.stdout)
                self.assertNotRegex(shown.stdout, r"REQUIRED|\(2x\)| x 2")
        self.assertRegex(run("help", "set").stdout, r"\n  slave_id +1 to 255\n(.|\n)*\n  postamble_ms +0 to 1700 mS\n")

    def test_set_takes_the_pages_units_and_conversions(self):
        # (assignment, byte, value it stores, note when the page would show it differently)
        cases = [
            ("slave_id=255", 3, 255, None),
            ("baud=19200", 2, 5, None),
            ("baud=1200", 2, 1, None),
            ("timeout=3", 6, 3, None),
            ("poll_time_ms=100", 4, 10, None),
            ("poll_time_ms=1234", 4, 123, r"poll_time_ms=1234 is stored as 1230 mS"),
            ("poll_time_ms=2550", 4, 255, None),
            ("isd_ms=25", 10, 2, r"stored as 20 mS"),
            ("preamble_ms=100", 12, 15, None),
            ("preamble_ms=4", 12, 1, r"preamble_ms=4 is stored as 7 mS"),
            ("postamble_ms=1700", 13, 255, None),
            ("postamble_ms=0", 13, 0, None),
            ("secure_polls=on", 1, 0x01, None),
            ("protocol=GE/Harmon", 0, 0x81, None),
            ("nrz_i=yes", 0, 0x05, None),
            ("no_ctrl_byte=1", 0, 0x09, None),
            ("rx_equalisation=off", 0, 0x00, None),
            ("keep_sending=true", 0, 0x41, None),
            ("s2_id2_on=off", 8, 0x42, None),
            ("s2_id2=63", 8, 63, None),
            ("direct_baud=4800", 11, 11, None),
            ("direct_baud=300/1200", 11, 15, None),
            ("direct_baud=9600/1200", 11, 10, None),
            ("direct_baud=600", 11, 14, None),
            ("direct_baud=1200/1200", 11, 13, None),
        ]
        for assignment, byte, value, note in cases:
            with self.subTest(assignment=assignment):
                path = self.path("set.klp")
                result = run("set", "--defaults", path, assignment)
                self.expect(result, 0, note)
                if not note:
                    self.assertEqual(result.stderr, "")
                expected = bytearray(DEFAULTS)
                expected[byte] = value
                self.assertEqual(self.read_bytes(path), bytes(expected))

    def test_where_nothing_fits_beside_the_file_it_is_written_in_place(self):
        # A path so near the length limit that no temporary name fits beside it, and a device:
        # the file itself is written, as the program's Save does, and a failure there is said.
        folder = self.dir
        while len(folder) + 1 < 4079:
            folder = os.path.join(folder, "d" * min(200, 4078 - len(folder)))
        os.makedirs(folder)
        deep = os.path.join(folder, "a.klp")
        expected = bytearray(DEFAULTS)
        expected[3] = 9
        cases = [
            (deep, 0, None),
            (deep, 0, None),  # and again, over the file the first one wrote
            ("/dev/full", 4, r"Failed to write config file: /dev/full \(it was written in place"),
        ]
        for path, code, message in cases:
            with self.subTest(path=path[-20:]):
                self.expect(run("set", "--defaults", path, "slave_id=9"), code, message)
                if code == 0:
                    self.assertEqual(self.read_bytes(path), bytes(expected))
        self.assertEqual(os.listdir(folder), ["a.klp"])

    def test_direct_baud_codes_show_as_the_page_shows_them(self):
        # (byte 11, the item the page selects for it, or the rate of a code no item offers)
        cases = [(0, "115200"), (1, "57600"), (8, "38400"), (10, "9600/1200"), (15, "300/1200"),
                 (2, "9600/1200"), (7, "9600/1200"), (16, "9600/1200"), (255, "9600/1200")]
        for code, text in cases:
            with self.subTest(code=code):
                record = bytearray(DEFAULTS)
                record[11] = code
                path = self.path("rate.klp", bytes(record))
                shown = run("show", path)
                self.expect(shown, 0)
                self.assertRegex(shown.stdout, rf"\n  Baud rate +{re.escape(text)} +direct_baud")
                self.assertEqual(json.loads(run("show", "--json", path).stdout)["record"]["direct_baud"], text)

    def test_show_and_diff_mark_what_the_page_would_not_store(self):
        odd = bytearray(DEFAULTS)
        odd[1], odd[2], odd[11] = 0x03, 0, 9  # spare bit, no baud, a direct rate off the list
        odd_path = self.path("odd.klp", bytes(odd))
        good = self.path("good.klp", DEFAULTS)
        shown = run("show", odd_path)
        self.expect(shown, 0)
        self.assertRegex(shown.stdout, r"\n  Baud rate +none +baud  byte 2 = 0: the page stores one of 1200,")
        self.assertRegex(shown.stdout, r"\n  Baud rate +19200 +direct_baud  byte 11 = 9: the page stores one of 300/1200")
        self.assertRegex(shown.stdout, r"\n  Use secure polls +\[x\] +secure_polls\n")
        self.assertIn("Byte 1 holds 0x03: bits 0x02 are set, which the page never uses", shown.stdout)
        record = json.loads(run("show", "--json", odd_path).stdout)["record"]
        self.assertEqual(record["outside_page_ranges"], ["baud", "direct_baud"])
        self.assertEqual((record["baud"], record["direct_baud"], record["poll_time_ms"]), (None, "19200", 1000))
        self.assertEqual(record["bytes"], bytes(odd).hex().upper())

        same = run("diff", good, good)
        self.expect(same, 0)
        self.assertEqual(same.stdout, "")
        differ = run("diff", good, odd_path)
        self.expect(differ, 1)
        rows = [line.split()[0] for line in differ.stdout.splitlines()[1:]]
        self.assertEqual(rows, ["baud", "secure_polls", "direct_baud", "byte"])
        self.assertIn("2400/2400", differ.stdout)
        differences = json.loads(run("diff", "--json", good, odd_path).stdout)["differences"]
        self.assertEqual(differences[0], {"field": "baud", "a": "9600", "b": None})
        # One bit apart: the protocol, the top bit of byte 0.
        protocol = self.path("protocol.klp", bytes([DEFAULTS[0] | 0x80]) + DEFAULTS[1:])
        differ = run("diff", good, protocol)
        self.expect(differ, 1)
        self.assertRegex(differ.stdout, r"\nprotocol +US&S +GE/Harmon\n$")
        self.assertEqual(json.loads(run("diff", "--json", protocol, good).stdout)["differences"],
                         [{"field": "protocol", "a": "GE/Harmon", "b": "US&S"}])

    def test_decode_counts_the_capture_from_a_file_or_standard_input(self):
        from_file = run("decode", "--summary", CAPTURE)
        with open(CAPTURE, "rb") as capture:
            from_stdin = run("decode", "--summary", stdin=capture)
        self.expect(from_file, 0)
        self.assertEqual(from_file.stdout, from_stdin.stdout)
        self.assertIn("\nPolls/ACKs: 0/217\nStation ", from_file.stdout)
        self.assertRegex(from_file.stdout, r"\n +1 +0 +217 +0 +0 +0 +445  -\n")
        objects = [json.loads(line) for line in run("decode", "--json", "--polls", CAPTURE).stdout.splitlines()]
        self.assertEqual(objects[-1], {"type": "counter", "polls": 0, "acks": 217})
        acks = [o for o in objects if o.get("kind") == "poll_or_ack"]
        self.assertEqual(len(acks), 217)
        self.assertEqual(acks[0], {"type": "line", "kind": "poll_or_ack", "header": "F1", "address": 1,
                                   "text": "ID 1 Rx: Ack master message."})

    def test_decode_checks_the_crc_as_told(self):
        # The capture's equipment starts its CRC at 0xFFFF: under modbus its frames pass but for
        # 28 fragments with a CRC field and 3 three-byte fragments. (--crc, counter, failures,
        # good frames with data or a CRC, note)
        cases = [
            ([], (0, 217), 471, 0, ""),
            (["--crc", "arc"], (0, 217), 471, 0, ""),
            (["--crc", "modbus"], (313, 217), 31, 313 + 96 + 31, ""),
            (["--crc", "auto"], (313, 217), 31, 313 + 96 + 31,
             "klp: --crc auto: the frames pass CRC-16/MODBUS (starting at 0xFFFF).\n"),
        ]
        for args, counter, failures, good, note in cases:
            with self.subTest(args=args):
                result = run("decode", "--json", "--polls", *args, CAPTURE)
                self.expect(result, 0)
                self.assertEqual(result.stderr, note)
                objects = [json.loads(line) for line in result.stdout.splitlines()]
                self.assertEqual((objects[-1]["polls"], objects[-1]["acks"]), counter)
                kinds = [o.get("kind") for o in objects]
                self.assertEqual(kinds.count("crc_failed"), failures)
                secure = [o for o in objects if o.get("text") in ("ID 1 Rx: Poll message (secure).", "ID 1 Rx: Recall message.")
                          or o.get("header") == "F2" and o.get("kind") == "traffic"]
                self.assertEqual(len(secure), good)
        self.expect(run("decode", "--crc", "xmodem", CAPTURE), 2, r"--crc")
        # A monitor says its choice too, from the line's frames (klpsim's CRC starts at 0).
        with Sim("--traffic", "100") as sim:
            result = run("monitor", "--port", sim.port, "--crc", "auto", "--duration", "1")
        self.expect(result, 0)
        self.assertEqual(result.stderr,
                         "klp: --crc auto: the frames pass CRC-16/ARC (starting at 0, the page's).\n")


class UnitExchange(Case):
    def test_read_shows_the_page_and_saves_the_file(self):
        record = bytearray(DEFAULTS)
        record[1], record[3] = 0x05, 4  # DIP switches 1 and 3 off; slave ID 4
        with Sim("--unit", "4", "--record-hex", record.hex(), "--firmware", "3.12", "--mode", "2") as sim:
            out = self.path("unit.klp")
            result = run("read", "--port", sim.port, "--slave", 4, "-o", out)
            self.expect(result, 0)
            self.assertTrue(result.stdout.startswith(
                f"Unit at address 4 on {sim.port}: F/W v3.12, mode 2\n"
                "Dip Switch: 1 off, 2 on, 3 off, 4 -  =  direct, async.\n\nGenisys Protocol\n"))
            self.assertRegex(result.stdout, r"\n  Slave ID +4 +slave_id\n")
            self.assertRegex(result.stdout, r"\n  Poll time +1000 mS +poll_time_ms\n")
            self.assertEqual(self.read_bytes(out), bytes(record))
            unit = json.loads(run("read", "--json", "--port", sim.port, "--slave", 4).stdout)
            self.assertEqual((unit["firmware"], unit["mode"], unit["record"]["slave_id"]), ("3.12", 2, 4))
            raw = subprocess.run([KLP, "read", "--port", sim.port, "--slave", "4", "-o", "-"], capture_output=True)
            self.assertEqual((raw.returncode, raw.stdout), (0, bytes(record)))
            self.expect(run("read", "--port", sim.port, "--slave", 4, "-o", self.dir), 4,
                        r"Failed to create/open config file: .* \(it is a folder; give a file's name\)\.$")
            unwritable = run("read", "--port", sim.port, "--slave", 4, "-o", os.path.join(self.dir, "no", "x.klp"))
            self.expect(unwritable, 4, r"^klp: Failed to create/open config file")
            self.assertIn("F/W v3.12", unwritable.stdout)

    def test_faulty_units_are_reported_and_never_committed(self):
        # (klpsim's fault, klp's command, exit code, message)
        cases = [
            (["--silent"], "read", 5, r"address 1 on .* did not answer the read request within 500 ms\.$"),
            (["--delay", "1500"], "read", 5, r"did not answer the read request within 500 ms\.$"),
            (["--bad-crc"], "read", 5, r"gave no good answer to the read request within 500 ms: it sent a frame with a bad CRC\.$"),
            (["--short-response"], "read", 5, r"gave no good answer to the read request within 500 ms: it sent a read response of 21 bytes \(not 22\)\.$"),
            (["--silent"], "write", 5, r"did not acknowledge the record within 500 ms; nothing was committed\.$"),
            (["--delay", "1500"], "write", 5, r"did not acknowledge the record .*nothing was committed"),
            (["--bad-crc"], "write", 5, r"gave no good answer to the record within 500 ms: it sent a frame with a bad CRC; nothing was committed"),
        ]
        new = self.path("new.klp", DEFAULTS[:4] + bytes([50]) + DEFAULTS[5:])
        for fault, command, code, message in cases:
            with self.subTest(fault=fault, command=command):
                saved = self.path("unit-record.klp", DEFAULTS)
                with Sim("--record", saved, *fault) as sim:
                    args = ["--port", sim.port, "--slave", 1, "--wait", 500]
                    result = run(command, *args, *([new] if command == "write" else []))
                    self.expect(result, code, message)
                    self.assertEqual(sim.received("config")[1:], [])  # nothing after the request
                self.assertEqual(self.read_bytes(saved), DEFAULTS)

    def test_a_late_answer_inside_the_wait_is_taken(self):
        with Sim("--delay", "300") as sim:
            self.expect(run("read", "--port", sim.port, "--slave", 1, "--wait", 1500), 0)

    def test_write_commits_and_finds_the_unit_at_its_new_slave_id(self):
        saved = self.path("unit-record.klp", DEFAULTS)
        new = self.path("new.klp")
        self.expect(run("set", "--defaults", new, "slave_id=7", "poll_time_ms=500", "secure_polls=on"), 0)
        with Sim("--record", saved) as sim:
            result = run("write", "--port", sim.port, "--slave", 1, *FAST, new)
            self.expect(result, 0)
            self.assertEqual(result.stdout, "Address 1 acknowledged the record; committed at slave ID 7.\n"
                                            "Read back at address 7: the unit holds the record written.\n")
            # The new address was free; the record went to the old address, the commit to the
            # new one, the read-back there.
            frames = [f.split()[:2] for f in sim.received("config")]
            self.assertEqual(frames, [["FB", "07"], ["FC", "01"], ["FE", "07"], ["FB", "07"]])
            self.assertEqual(self.read_bytes(saved), self.read_bytes(new))
            self.expect(run("read", "--port", sim.port, "--slave", 1, "--wait", 300), 5)
            again = run("write", "--json", "--no-verify", "--port", sim.port, "--slave", 7, new)
            self.expect(again, 0)
            self.assertEqual(json.loads(again.stdout)["verified"], None)

    def test_a_move_onto_a_taken_address(self):
        # A unit already at 9 (back at once after a reset) and the one written at 1 (300 ms).
        new = self.path("new.klp")
        self.expect(run("set", "--defaults", new, "slave_id=9", "poll_time_ms=500"), 0)
        two_units = ("--unit", "9", "--reset-ms", "0", "--unit", "1")
        with Sim(*two_units) as sim:
            result = run("write", "--json", "--port", sim.port, "--slave", 1, *FAST, new)
            self.expect(result, 7, r"^klp: address 9 is taken by a unit with firmware v2\.5; nothing was written")
            self.assertEqual([f.split()[:2] for f in sim.received("config")], [["FB", "09"]])
            self.assertEqual(json.loads(result.stdout)["committed"], False)
        # Forced: both end up at 9. Read back while the one written still resets, only the one
        # already there answers, with its own record; read back once both are back, both answer.
        with Sim(*two_units) as sim:
            result = run("write", "--force", "--port", sim.port, "--slave", 1, "--wait", 200, "--reset-ms", 50, new)
        self.expect(result, 6, r"klp: the unit at address 9 holds a different record from .*new\.klp \(1 difference\)\.$")
        self.assertIn("is taken by a unit with firmware v2.5; the unit is moved there all the same (--force)", result.stderr)
        self.assertRegex(result.stdout, r"\nField +Written +Read back\npoll_time_ms +500 mS +1000 mS\n$")
        with Sim(*two_units) as sim:
            result = run("write", "--json", "--force", "--port", sim.port, "--slave", 1, "--wait", 200, "--reset-ms", 50, new)
        self.expect(result, 6)
        outcome = json.loads(result.stdout)
        self.assertEqual((outcome["acknowledged"], outcome["committed"], outcome["verified"]), (True, True, False))
        self.assertEqual(outcome["differences"], [{"field": "poll_time_ms", "written": 500, "read_back": 1000}])
        with Sim(*two_units) as sim:
            result = run("write", "--force", "--port", sim.port, "--slave", 1, "--wait", 300, "--reset-ms", 400, new)
        self.expect(result, 7, r"address 9 answered twice after the commit: firmware v2\.5 slave ID 9, firmware v2\.5 slave ID 9; two units now share it\.$")

    def test_records_the_page_would_never_write_are_refused(self):
        defaults = bytearray(DEFAULTS)
        slave0, baud0 = bytearray(DEFAULTS), bytearray(DEFAULTS)
        slave0[3], baud0[2] = 0, 0
        cases = [  # (file, message naming the field, its value and the page's range)
            (b"hello, world!\n", r"(?m)new\.klp: baud holds code 108 in byte 2, not one of .*\.\n.*s2_id1 is 119 \(byte 7 = 119\), outside the page's 0 to 63\.$"),
            (bytes(slave0), r"(?m)new\.klp: slave_id is 0 \(byte 3 = 0\), outside the page's 1 to 255\.$"),
            (bytes(baud0), r"(?m)new\.klp: baud holds code 0 in byte 2, not one of 1200, 2400, 4800, 9600, 19200\.$"),
        ]
        for content, message in cases:
            with self.subTest(content=content), Sim() as sim:
                new = self.path("new.klp", content)
                result = run("write", "--port", sim.port, "--slave", 1, *FAST, new)
                self.expect(result, 2, message)
                self.assertRegex(result.stderr, r"holds a record the page would never write.*nothing was sent")
                self.assertEqual(sim.received("config"), [])
        # --force writes it as it is: byte 1's spare bits too.
        defaults[1] = 0x07
        baud0[1] = 0x07
        with Sim() as sim:
            result = run("write", "--force", "--port", sim.port, "--slave", 1, *FAST, self.path("new.klp", bytes(baud0)))
            self.expect(result, 0, r"baud holds code 0 in byte 2, not one of .*; written as it is \(--force\)")
            self.assertEqual(sim.received("config")[0].split()[:5], ["FC", "01", "01", "07", "00"])
        # Without it, bits no field holds go out as 0, as the page writes them, and klp says so.
        with Sim() as sim:
            result = run("write", "--port", sim.port, "--slave", 1, *FAST, self.path("new.klp", bytes(defaults)))
            self.expect(result, 0, r"byte 1 holds bits no field uses \(0x06\); they are written as 0")
            self.assertEqual(sim.received("config")[0].split()[:4], ["FC", "01", "01", "01"])

    def test_what_a_write_says_when_it_goes_wrong(self):
        new = self.path("new.klp", DEFAULTS[:4] + bytes([50]) + DEFAULTS[5:])
        # A stale acknowledgement from another tool's write, heard before the record went out,
        # commits nothing: the unit at 1 is silent, its acknowledgement came 300 ms after the
        # check of the new address went out (the file moves the unit to 7).
        moved = self.path("moved.klp", DEFAULTS[:3] + bytes([7]) + DEFAULTS[4:])
        with Sim("--silent", "--unasked-ack", "300") as sim:
            result = run("write", "--json", "--port", sim.port, "--slave", 1, *FAST, moved)
            self.expect(result, 5, r"did not acknowledge the record within 500 ms; nothing was committed\.$")
            self.assertEqual([f.split()[:2] for f in sim.received("config")], [["FB", "07"], ["FC", "01"]])
            self.assertEqual(json.loads(result.stdout)["committed"], False)
        # Two units acknowledging one write: no commit.
        with Sim("--unit", "1", "--unit", "1") as sim:
            result = run("write", "--port", sim.port, "--slave", 1, *FAST, new)
            self.expect(result, 7, r"address 1 acknowledged twice: two units share it; nothing was committed\.$")
            self.assertNotIn("FE", [f.split()[0] for f in sim.received("config")])
        # A read-back that fails after the commit: exit 6 and the whole outcome.
        with Sim("--silent-after-commit") as sim:
            result = run("write", "--json", "--port", sim.port, "--slave", 1, *FAST, new)
        self.expect(result, 6, r"did not answer the read request after the reset in 3 tries of 500 ms; "
                               r"the record was committed but could not be checked\.$")
        outcome = json.loads(result.stdout)
        self.assertEqual((outcome["acknowledged"], outcome["committed"], outcome["verified"]), (True, True, None))
        self.assertIn("after the reset", outcome["error"])
        # A unit whose reset outlasts --reset-ms is found by a later try.
        with Sim(reset_ms=900) as sim:  # the third try, at 1100 ms, finds it
            result = run("write", "--port", sim.port, "--slave", 1, "--wait", 500, "--reset-ms", 100, new)
        self.expect(result, 0)
        self.assertIn("the unit holds the record written", result.stdout)

    def test_ctrl_c_during_the_reset_wait_says_the_commit_went_out(self):
        new = self.path("new.klp", DEFAULTS[:4] + bytes([50]) + DEFAULTS[5:])
        with Sim() as sim:
            proc = subprocess.Popen([KLP, "write", "--port", sim.port, "--slave", "1", "--reset-ms", "10000", new],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="latin-1")
            self.assertIn("committed at slave ID 1", proc.stdout.readline())
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=5)
        self.assertEqual(proc.returncode, 130)
        self.assertEqual(err, "klp: interrupted after the commit went out; the record was committed but not checked.\n")

    def test_why_a_port_would_not_open_is_said(self):
        # (how klp is run, the port, the reason said, the system's words). Each one's reason
        # was once "missing, or in use by another program". The permission case runs klp as
        # nobody (the tests run as root, who may open anything) on the unit's terminal.
        nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
        cases = [
            ([], "{dir}/no-such-port", r"it is missing \(No such file or directory\)\.$"),
            ([], "{dir}", r"it is a folder, not a serial port \(Is a directory\)\.$"),
            ([], "{port}", r"it is in use by another program \(Resource temporarily unavailable\)\.$"),
            (nobody, "{port}", r"you may not open it \(Permission denied\); on Linux, add your user "
                               r"to the dialout group and log in again\.$"),
        ]
        with Sim() as sim:
            holder = subprocess.Popen([KLP, "monitor", "--port", sim.port, "--duration", "30"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                time.sleep(0.5)
                for prefix, port, message in cases:
                    port = port.format(dir=self.dir, port=sim.port)
                    with self.subTest(prefix=prefix, port=port):
                        result = subprocess.run(prefix + [KLP, "read", "--port", port, "--slave", "1"],
                                                capture_output=True, timeout=30, encoding="latin-1")
                        self.expect(result, 3, f"^klp: cannot open port {re.escape(port)} at 9600 baud: "
                                    + message)
            finally:
                holder.send_signal(signal.SIGINT)
                self.assertEqual(holder.wait(10), 0)


class Scan(Case):
    def test_units_late_garbled_and_none(self):
        # (klpsim's units and faults, exit code, rows: address -> note)
        cases = [
            (["--unit", "3", "--unit", "5"], 0, {3: "", 5: ""}),
            (["--unit", "3", "--delay", "450"], 0, {3: "late"}),
            (["--unit", "6", "--delay", "450"], 0, {6: "late"}),  # the last address asked
            # The longest DIP switch text still leaves room before the note.
            (["--unit", "3", "--delay", "450", "--mode", "2", "--record-hex", "01070403641E05010205320C1206"],
             0, {3: "1 off, 2 off, 3 off, 4 -  =  direct, async.   late"}),
            (["--unit", "2", "--bad-crc"], 5, {2: "garbled: a frame with a bad CRC"}),
            (["--unit", "2", "--silent"], 5, {}),
        ]
        for units, code, rows in cases:
            with self.subTest(units=units), Sim(*units) as sim:
                result = run("scan", "--port", sim.port, "--to", 6, "--wait", 300)
                self.expect(result, code, None if code == 0 else r"no unit answered on .* at addresses 1 to 6\.")
                self.assertNotIn("Scanning", result.stderr)  # progress only on a terminal
                listed = {int(line.split()[0]): line for line in result.stdout.splitlines()[1:]}
                self.assertEqual(sorted(listed), sorted(rows))
                for address, note in rows.items():
                    self.assertTrue(listed[address].rstrip().endswith(note), listed[address])
        # A burst too lists a unit that answered only after its window, and counts it found.
        with Sim("--unit", "3", "--delay", "1100") as sim:
            result = run("scan", "--burst", "--port", sim.port, "--to", 6, "--wait", 1500)
        self.expect(result, 0)
        self.assertRegex(result.stdout, r"\n +3 .* late\n$")
        # --retries sends no second request while the first may still be answered: a unit slower
        # than the wait would otherwise answer inside the second's window and pass for two.
        with Sim("--unit", "3", "--delay", "600") as sim:
            result = run("scan", "--port", sim.port, "--to", 4, "--wait", 500, "--retries", 1)
        self.expect(result, 0)
        self.assertEqual([line.split()[0] for line in result.stdout.splitlines()[1:]], ["3"])
        with Sim("--unit", "5", "--firmware", "2.9", "--mode", "3") as sim:
            units = [json.loads(line) for line in run("scan", "--json", "--port", sim.port, "--from", 4, "--to", 6).stdout.splitlines()]
            self.assertEqual(units, [{"address": 5, "status": "answered", "answers": 1, "firmware": "2.9", "mode": 3,
                                      "dip_switch": "Dip Switch: 1 on, 2 on, 3 on, 4 -  =  direct, sync.",
                                      "slave_id": 5}])


    def test_ctrl_c_on_a_terminal_ends_the_progress_line(self):
        with Sim("--unit", "200") as sim:
            main, side = os.openpty()
            proc = subprocess.Popen([KLP, "scan", "--port", sim.port], stdout=subprocess.PIPE,
                                    stderr=side, encoding="latin-1")
            os.close(side)
            time.sleep(1)
            proc.send_signal(signal.SIGINT)
            out, _ = proc.communicate(timeout=10)
            seen = b""
            while True:
                try:
                    chunk = os.read(main, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                seen += chunk
            os.close(main)
        self.assertEqual((proc.returncode, out), (130, ""))
        said = seen.decode("latin-1")
        self.assertIn("Scanning address ", said)  # progress, since a person watches there
        self.assertRegex(said, r"\r +\rklp: interrupted at address \d+; the units found so far are listed\.\r?\n$")

    def test_two_units_at_one_address_every_time(self):
        two = ("--unit", "3", "--firmware", "1.0", "--unit", "3", "--firmware", "2.0", "--unit", "4")
        said = "address 3 answered twice: firmware v1.0 slave ID 3, firmware v2.0 slave ID 3"
        with Sim(*two) as sim:
            for i in range(20):
                with self.subTest(run=i):
                    json_run = i % 2 == 1
                    result = run("scan", "--port", sim.port, "--from", 2, "--to", 4, "--wait", 200,
                                 *(["--json"] if json_run else []), *(["--burst"] if i % 4 == 2 else []))
                    self.expect(result, 7, said)
                    self.assertNotIn("late", result.stdout)
                    if json_run:
                        units = {u["address"]: u for u in map(json.loads, result.stdout.splitlines())}
                        self.assertEqual((units[3]["answers"], units[4]["answers"]), (2, 1))
                        self.assertEqual([r["firmware"] for r in units[3]["responses"]], ["1.0", "2.0"])
                    else:
                        rows = [line.split()[0] for line in result.stdout.splitlines()[1:]]
                        self.assertEqual(rows, ["3", "3", "4"])
            out = self.path("three.klp")
            self.expect(run("read", "--port", sim.port, "--slave", 3, "--wait", 300, "-o", out), 7,
                        said + r"; nothing was saved")
            self.assertFalse(os.path.exists(out))
            first = run("read", "--first", "--port", sim.port, "--slave", 3, "--wait", 300, "-o", out)
            self.expect(first, 0, said + r"; the first answer is taken \(--first\)")
            self.assertIn("F/W v1.0", first.stdout)

    def test_a_burst_finds_every_unit_once(self):
        units = [a for a in range(1, 121) if a % 3 == 0]  # 40 units
        # The line paced as at 9600 baud: requests sent faster than the line carries them would
        # open their windows before the units hear them.
        with Sim("--line-baud", "9600", *[arg for a in units for arg in ("--unit", str(a))]) as sim:
            result = run("scan", "--burst", "--json", "--port", sim.port, "--to", 121, "--wait", 300)
        self.expect(result, 0)
        found = [json.loads(line) for line in result.stdout.splitlines()]
        self.assertEqual([u["address"] for u in found], units)
        self.assertEqual({(u["status"], u["answers"]) for u in found}, {("answered", 1)})


class Monitor(Case):
    def lines_and_counter(self, stdout):
        lines = stdout.splitlines()
        at = next(i for i, line in enumerate(lines) if line.startswith("Polls/ACKs: "))
        polls, acks = map(int, lines[at].split(": ")[1].split("/"))
        return lines[:at], (polls, acks), lines[at + 1:]

    def test_lines_log_counter_and_summary(self):
        log = self.path("CommsLog.txt", b"earlier line\r\n")
        with Sim("--traffic", "200", "--stations", "5,6") as sim:
            result = run("monitor", "--port", sim.port, "--polls", "--duration", "1.5", "--summary", "--log", log)
        self.expect(result, 0)
        self.assertEqual(result.stderr, "")
        lines, (polls, acks), summary = self.lines_and_counter(result.stdout)
        self.assertGreater(len(lines), 100)
        for line in lines:
            self.assertRegex(line, STAMPED)
        self.assertEqual(polls, sum("Poll message" in line for line in lines))
        self.assertEqual(acks, sum(" Rx: Ack " in line for line in lines))
        # The file: what it held, then the same lines, each with the date in front and CR LF.
        with open(log, "rb") as f:
            logged = f.read().decode("latin-1").split("\r\n")
        self.assertEqual(logged[0], "earlier line")
        self.assertEqual(logged[-1], "")
        self.assertEqual([line.split("\t", 1)[1] for line in logged[1:-1]], lines)
        for line in logged[1:-1]:
            self.assertRegex(line, r"^\d{4}-\d\d-\d\d\t")
        self.assertEqual(summary[0].split(), ["Station", "Polls", "Acks", "Indications", "Controls",
                                              "Recalls", "CRC", "failures", "Last", "seen"])
        rows = {int(row.split()[0]): list(map(int, row.split()[1:7])) for row in summary[1:]}
        self.assertEqual(sorted(rows), [5, 6])
        self.assertEqual(sum(r[0] for r in rows.values()), polls)
        self.assertEqual(sum(r[1] for r in rows.values()), acks)

    def test_polls_are_counted_but_shown_only_when_asked(self):
        with Sim("--traffic", "100") as sim:
            result = run("monitor", "--json", "--port", sim.port, "--duration", "1")
        self.expect(result, 0)
        objects = [json.loads(line) for line in result.stdout.splitlines()]
        counter = objects[-1]
        self.assertEqual(counter["type"], "counter")
        self.assertGreater(counter["polls"] + counter["acks"], 0)
        self.assertEqual([o for o in objects[:-1] if o["kind"] == "poll_or_ack"], [])
        self.assertEqual({o["address"] for o in objects[:-1]}, {5})
        self.assertRegex(objects[0]["time"], r"^\d\d:\d\d:\d\d$")

    def test_ctrl_c_ends_it_with_the_counter(self):
        with Sim("--traffic", "50") as sim:
            proc = subprocess.Popen([KLP, "monitor", "--port", sim.port], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, encoding="latin-1")
            time.sleep(1)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=10)
        self.assertEqual((proc.returncode, err), (0, ""))
        lines, (polls, acks), _ = self.lines_and_counter(out)
        self.assertGreater(polls + acks, 0)

    def test_a_rotated_log_loses_no_line(self):
        log = self.path("klp.log")
        with Sim("--traffic", "200", "--stations", "5") as sim:
            proc = subprocess.Popen([KLP, "monitor", "--port", sim.port, "--polls", "--log", log],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="latin-1")
            time.sleep(1)
            os.rename(log, log + ".1")  # as logrotate does, then it sends SIGHUP
            proc.send_signal(signal.SIGHUP)
            time.sleep(1)
            proc.send_signal(signal.SIGINT)
            out, err = proc.communicate(timeout=10)
        self.assertEqual((proc.returncode, err), (0, ""))
        lines, _, _ = self.lines_and_counter(out)
        logged = []
        for name in (log + ".1", log):
            with open(name, "rb") as f:
                part = [line.split("\t", 1)[1] for line in f.read().decode("latin-1").splitlines()]
            self.assertGreater(len(part), 10, name)
            logged += part
        self.assertEqual(logged, lines)

    def test_an_unplugged_port_is_watched_again_with_reopen(self):
        link = self.path("com")
        first = Sim("--traffic", "100", "--stations", "5", "--link", link, "--vanish-after", "800")
        proc = subprocess.Popen([KLP, "monitor", "--port", link, "--reopen", "--polls", "--duration", "5"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, encoding="latin-1")
        try:
            first.proc.wait(10)
            time.sleep(0.5)
            with Sim("--traffic", "100", "--stations", "6", "--link", link):
                out, err = proc.communicate(timeout=15)
        finally:
            first.stop()
            if proc.poll() is None:
                proc.kill()
        self.assertEqual(proc.returncode, 0, err)
        self.assertRegex(err, r"stopped responding .*waiting for it to come back\.\nklp: port .* is back; watching it again\.\n$")
        lines, (polls, acks), _ = self.lines_and_counter(out)
        self.assertTrue(any(" ID 5 Rx" in line or "\tID 5 Rx" in line for line in lines))
        self.assertTrue(any("\tID 6 Rx" in line for line in lines), "lines after the port came back")
        # The counter is the whole watch's, before the port went away and after it came back.
        self.assertEqual((polls, acks), (sum("Rx: Poll message" in line for line in lines),
                                         sum("Rx: Ack " in line for line in lines)))

    def test_output_or_log_that_cannot_be_written_is_file_trouble(self):
        # (arguments, where standard output goes, exit code, message); {port} is the unit's.
        good = self.path("good.klp", DEFAULTS)
        other = self.path("other.klp", DEFAULTS[:3] + bytes([9]) + DEFAULTS[4:])
        full = r"^klp: write error: No space left on device\n$"
        cases = [
            (["decode", CAPTURE], "/dev/full", 4, full),
            (["decode", "--json", "--summary", CAPTURE], "/dev/full", 4, full),
            (["show", good], "/dev/full", 4, full),
            (["read", "--port", "{port}", "--slave", "1", "-o", "-"], "/dev/full", 4, full),
            (["diff", good, other], "/dev/full", 4, full),
            (["monitor", "--port", "{port}", "--duration", "5"], "/dev/full", 4, full),
            (["monitor", "--port", "{port}", "--duration", "5", "--log", "/dev/full"], os.devnull, 4,
             r"^klp: cannot write to the log file /dev/full\.\n$"),
            (["decode", CAPTURE], os.devnull, 0, r"^$"),
        ]
        for args, out, code, message in cases:
            with self.subTest(args=args, out=out), Sim("--traffic", "100") as sim, open(out, "w") as sink:
                started = time.monotonic()
                result = subprocess.run([KLP] + [a.format(port=sim.port) for a in args], stdout=sink,
                                        stderr=subprocess.PIPE, timeout=30, encoding="latin-1")
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertRegex(result.stderr, message)
                self.assertLess(time.monotonic() - started, 4)  # the first failed write ends it
        # A reader that went away (klp ... | head) is no failure of klp's.
        r, w = os.pipe()
        os.close(r)
        gone = subprocess.run([KLP, "decode", CAPTURE], stdout=w, stderr=subprocess.PIPE, timeout=30)
        os.close(w)
        self.assertEqual((gone.returncode, gone.stderr), (0, b""))

    def test_output_nobody_reads_never_holds_it(self):
        # Standard output a pipe that fills and is never read: the reader thread blocks while
        # printing. Ctrl-C ends klp within 2 s; without Ctrl-C, Close gives up on the reader
        # after its 10 s, and klp ends without touching what the reader holds.
        # (arguments, Ctrl-C, at most seconds from Ctrl-C or start, message)
        cases = [
            (["--polls"], True, 2, r"^klp: standard output is not taking lines; stopped without the counter\.\n$"),
            (["--polls", "--duration", "1"], False, 14, r"^klp: the port's reader is stuck on output nobody reads"),
        ]
        for args, interrupt, limit, message in cases:
            with self.subTest(args=args), Sim("--traffic", "400") as sim:
                r, w = os.pipe()
                fcntl.fcntl(w, 1031, 4096)  # F_SETPIPE_SZ: a pipe that fills at once
                proc = subprocess.Popen([KLP, "monitor", "--port", sim.port] + args, stdout=w,
                                        stderr=subprocess.PIPE, encoding="latin-1")
                os.close(w)
                try:
                    started = time.monotonic()
                    queued = lambda: struct.unpack("i", fcntl.ioctl(r, termios.FIONREAD, b"\0" * 4))[0]
                    while queued() < 3584:
                        self.assertLess(time.monotonic() - started, 10, "the pipe never filled")
                        time.sleep(0.05)
                    if interrupt:
                        time.sleep(0.3)  # the reader is stuck in its write by now
                        proc.send_signal(signal.SIGINT)
                        started = time.monotonic()
                    code = proc.wait(limit + 5)
                    self.assertLess(time.monotonic() - started, limit)
                    self.assertEqual(code, 4)
                    self.assertRegex(proc.stderr.read(), message)
                finally:
                    proc.kill()
                    proc.wait()
                    proc.stderr.close()
                    os.close(r)

    def test_a_vanishing_port_ends_it_with_a_port_failure(self):
        with Sim("--traffic", "50", "--vanish-after", "700") as sim:
            result = run("monitor", "--port", sim.port, "--duration", "20", timeout=30)
        self.expect(result, 3, r"^klp: port .* stopped responding \(was the adapter unplugged\?\)\.$")
        self.assertRegex(result.stdout, r"\nPolls/ACKs: \d+/\d+\n$")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def get_json(url, timeout=2):
    with urllib.request.urlopen(url, timeout=timeout) as reply:
        return json.loads(reply.read())


class Metrics(Case):
    """A real Prometheus server scrapes `monitor --metrics` on the loopback."""

    def start_prometheus(self, target):
        port = free_port()
        config = self.path("prometheus.yml", (
            "global:\n  scrape_interval: 500ms\n  scrape_timeout: 400ms\n"
            f"scrape_configs:\n  - job_name: klp\n    static_configs:\n      - targets: ['{target}']\n").encode())
        proc = subprocess.Popen(["prometheus", f"--config.file={config}",
                                 f"--storage.tsdb.path={self.path('tsdb')}",
                                 f"--web.listen-address=127.0.0.1:{port}", "--log.level=error"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (proc.terminate(), proc.wait(10)))
        url = f"http://127.0.0.1:{port}"
        # Ready, and its target taken up (Prometheus passes new targets on every 5 s).
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                if get_json(url + "/api/v1/targets", timeout=1)["data"]["activeTargets"]:
                    return url
            except OSError:
                pass
            time.sleep(0.2)
        self.fail("Prometheus did not start scraping")

    def test_prometheus_sees_the_counts_of_the_summary(self):
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
        import genisys_ref as ref
        kinds = [(0xFB, b""), (0xFA, b""), (0xF2, b"\x01\x02"), (0xFC, b"\x03\x04"), (0xFD, b"")]
        # Stations 5, 6 and 9, then 9 falls silent while 5 and 6 go on; one garbled frame of 6.
        early = b"".join(ref.encode(h, a, d, config=False) for a in (5, 6, 9) for h, d in kinds) * 4
        late = b"".join(ref.encode(h, a, d, config=False) for a in (5, 6) for h, d in kinds) * 40
        garbled = bytearray(ref.encode(0xF2, 6, b"\x01\x02", config=False))
        garbled[2] ^= 0x40  # a data byte changed after the CRC was made
        stream = self.path("stream.bin", early + bytes(garbled) + late)
        metrics = f"127.0.0.1:{free_port()}"
        prometheus = self.start_prometheus(metrics)
        with Sim("--replay", stream, "--replay-rate", "1500") as sim:
            result = run("monitor", "--json", "--summary", "--port", sim.port, "--metrics", metrics,
                         "--duration", "5")
            ended = time.time()
        self.expect(result, 0)
        stations = {o["address"]: o for o in map(json.loads, result.stdout.splitlines()) if o["type"] == "station"}
        self.assertEqual(sorted(stations), [5, 6, 9])

        def query(expr):
            found = get_json(f"{prometheus}/api/v1/query?query={expr}&time={ended - 0.8}")["data"]["result"]
            return {int(r["metric"]["station"]): float(r["value"][1]) for r in found}
        for name in ["polls", "acks", "indications", "controls", "recalls", "crc_failures"]:
            with self.subTest(name=name):
                self.assertEqual(query(f"klp_station_{name}_total"),
                                 {a: float(s[name]) for a, s in stations.items()})
        self.assertEqual(stations[6]["crc_failures"], 1)
        seen = query("klp_station_last_seen_seconds")
        self.assertGreater(seen[9] - seen[5], 1.0, "station 9 fell silent")
        up = get_json(f"{prometheus}/api/v1/query?query=klp_port_up&time={ended - 0.8}")["data"]["result"]
        self.assertEqual([r["value"][1] for r in up], ["1"])


if __name__ == "__main__":
    unittest.main(verbosity=2)
