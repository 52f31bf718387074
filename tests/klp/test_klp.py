"""klp end to end, natively: each command against the virtual unit (klpsim) on a
pseudo-terminal, including units that are silent, late or answer with a bad CRC and a write that
moves the unit to a new slave ID; and tables of bad usage and bad files with their message and
exit code. Run through CTest (it sets KLP, KLPSIM and KLP_CAPTURE)."""
import json
import os
import re
import selectors
import signal
import subprocess
import tempfile
import time
import unittest

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

    def __init__(self, *args):
        self.dir = tempfile.mkdtemp(prefix="klp-sim.")
        self.report = open(os.path.join(self.dir, "report"), "w+")
        # A unit's options follow its --unit: the quick reset is the last unit's, the one written.
        self.proc = subprocess.Popen([KLPSIM, "--verbose"] + list(args) + ["--reset-ms", "300"],
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
            self.assertRegex(result.stderr, message)


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
            (["bogus"], 2, r"not expected: bogus"),
            (["read", "--slave", "1"], 2, r"--port is required"),
            (["read", "--port", plain, "--slave", "0"], 2, r"--slave"),
            (["read", "--port", plain, "--slave", "1", "--baud", "1234"], 2, r"--baud"),
            (["monitor", "--port", plain, "--duration", "0"], 2, r"--duration"),
            (["scan", "--port", plain, "--from", "9", "--to", "3"], 2, r"--from 9 is above --to 3"),
            (["set", good], 2, r"assignments is required"),
            (["set", good, "poll_time_ms=99"], 2, r"poll_time_ms takes 100 to 2550 mS, in steps of 10"),
            (["set", good, "poll_time_ms=2560"], 2, r"100 to 2550 mS"),
            (["set", good, "preamble_ms=1701"], 2, r"preamble_ms takes 0 to 1700 mS"),
            (["set", good, "slave_id=0"], 2, r"slave_id takes 1 to 255, not '0'"),
            (["set", good, "s2_id1=64"], 2, r"s2_id1 takes 0 to 63"),
            (["set", good, "timeout=2"], 2, r"timeout takes 3 to 255 Sec"),
            (["set", good, "baud=1234"], 2, r"baud takes one of 1200, 2400, 4800, 9600, 19200"),
            (["set", good, "direct_baud=19200"], 2, r"direct_baud takes one of 300/1200, .* 9600/1200"),
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
            unwritable = run("read", "--port", sim.port, "--slave", 4, "-o", os.path.join(self.dir, "no", "x.klp"))
            self.expect(unwritable, 4, r"^klp: Failed to create/open config file")
            self.assertIn("F/W v3.12", unwritable.stdout)

    def test_faulty_units_are_reported_and_never_committed(self):
        # (klpsim's fault, klp's command, exit code, message)
        cases = [
            (["--silent"], "read", 5, r"address 1 on .* did not answer the read request within 500 ms\.$"),
            (["--delay", "1500"], "read", 5, r"did not answer the read request within 500 ms\.$"),
            (["--bad-crc"], "read", 5, r"did not answer .*: heard a frame with a bad CRC instead\.$"),
            (["--silent"], "write", 5, r"did not acknowledge the record within 500 ms; nothing was committed\.$"),
            (["--delay", "1500"], "write", 5, r"did not acknowledge the record .*nothing was committed"),
            (["--bad-crc"], "write", 5, r"heard a frame with a bad CRC instead; nothing was committed"),
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
            # The record went to the old address, the commit to the new one, the read-back there.
            frames = [f.split()[:2] for f in sim.received("config")]
            self.assertEqual(frames, [["FC", "01"], ["FE", "07"], ["FB", "07"]])
            self.assertEqual(self.read_bytes(saved), self.read_bytes(new))
            self.expect(run("read", "--port", sim.port, "--slave", 1, "--wait", 300), 5)
            again = run("write", "--json", "--no-verify", "--port", sim.port, "--slave", 7, new)
            self.expect(again, 0)
            self.assertEqual(json.loads(again.stdout)["verified"], None)

    def test_write_reports_a_different_record_read_back(self):
        # Two units end up at address 9, and the commit to 9 resets both. The one already there
        # is back at once; the read-back comes while the one written is still resetting (klp
        # waits 50 ms, the unit 300), so the one already there answers it.
        new = self.path("new.klp")
        self.expect(run("set", "--defaults", new, "slave_id=9", "poll_time_ms=500"), 0)
        with Sim("--unit", "9", "--reset-ms", "0", "--unit", "1") as sim:
            result = run("write", "--port", sim.port, "--slave", 1, "--wait", 500, "--reset-ms", 50, new)
        self.expect(result, 6, r"^klp: the unit at address 9 holds a different record from .*new\.klp \(1 difference\)\.$")
        self.assertRegex(result.stdout, r"\nField +Written +Read back\npoll_time_ms +500 mS +1000 mS\n$")
        with Sim("--unit", "9", "--reset-ms", "0", "--unit", "1") as sim:
            result = run("write", "--json", "--port", sim.port, "--slave", 1, "--wait", 500, "--reset-ms", 50, new)
        self.expect(result, 6)
        self.assertEqual(json.loads(result.stdout)["differences"],
                         [{"field": "poll_time_ms", "written": 500, "read_back": 1000}])

    def test_a_port_in_use_is_refused(self):
        with Sim() as sim:
            holder = subprocess.Popen([KLP, "monitor", "--port", sim.port, "--duration", "5"],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                time.sleep(0.5)
                self.expect(run("read", "--port", sim.port, "--slave", 1), 3,
                            r"^klp: cannot open port .* it is missing, or in use by another program\.")
            finally:
                holder.send_signal(signal.SIGINT)
                self.assertEqual(holder.wait(10), 0)


class Scan(Case):
    def test_units_late_garbled_and_none(self):
        # (klpsim's units and faults, exit code, rows: address -> note)
        cases = [
            (["--unit", "3", "--unit", "5"], 0, {3: "", 5: ""}),
            (["--unit", "3", "--delay", "450"], 0, {3: "late"}),
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
        with Sim("--unit", "5", "--firmware", "2.9", "--mode", "3") as sim:
            units = [json.loads(line) for line in run("scan", "--json", "--port", sim.port, "--from", 4, "--to", 6).stdout.splitlines()]
            self.assertEqual(units, [{"address": 5, "status": "answered", "firmware": "2.9", "mode": 3,
                                      "dip_switch": "Dip Switch: 1 on, 2 on, 3 on, 4 -  =  direct, sync.",
                                      "slave_id": 5}])


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

    def test_a_vanishing_port_ends_it_with_a_port_failure(self):
        with Sim("--traffic", "50", "--vanish-after", "700") as sim:
            result = run("monitor", "--port", sim.port, "--duration", "20", timeout=30)
        self.expect(result, 3, r"^klp: port .* stopped responding \(was the adapter unplugged\?\)\.$")
        self.assertRegex(result.stdout, r"\nPolls/ACKs: \d+/\d+\n$")


if __name__ == "__main__":
    unittest.main(verbosity=2)
