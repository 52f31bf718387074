"""Monitoring: traffic from the unit shows as the decoder's lines, polls and acknowledgements
are counted whether or not they are shown, and "Write to CommsLog.txt" appends exactly the
shown lines with the date in front. The unit is paused (SIGSTOP) between phases, so each
phase's frames are known exactly."""
import os
import re
import signal
import unittest

import genisys_ref as ref
from harness import wait_until
from program_case import ProgramCase


class LiveTrafficTest(ProgramCase):
    NAME = "monitoring"
    UNIT_ARGS = ("--traffic", "12", "--stations", "5,7")

    @classmethod
    def before_program(cls):
        os.kill(cls.unit.proc.pid, signal.SIGSTOP)  # quiet until the first phase
        cls.sent = 0  # frames of the unit accounted for by earlier phases

    def pause_unit(self):
        os.kill(self.unit.proc.pid, signal.SIGSTOP)

    def run_phase(self, polls_shown, frames_wanted=20):
        """Lets the unit send about frames_wanted frames, pauses it, waits until the program has
        counted every poll and acknowledgement and shown the last line; returns the lines this
        phase must have added to the log."""
        os.kill(self.unit.proc.pid, signal.SIGCONT)
        wait_until(lambda: len(self.unit.frames("tx")) >= self.sent + frames_wanted, 20, "traffic")
        self.pause_unit()
        frames = self.unit.frames("tx")
        polls = sum(1 for f in frames if f[0] == 0xFB and ref.log_line(f)[1])
        acks = sum(1 for f in frames if f[0] in (0xF1, 0xFA) and ref.log_line(f)[1])
        wait_until(lambda: self.counters() == (polls, acks), 10,
                   f"counter {polls}/{acks} (shows {self.ui('text 0:1004')})")
        lines = self.expected(frames[self.sent:], polls_shown)
        type(self).sent = len(frames)  # each test method runs on a new instance
        if lines:
            wait_until(lambda: self.log_texts()[-1] == lines[-1], 10, f"the line {lines[-1]!r}")
        return lines

    @staticmethod
    def expected(frames, polls_shown):
        lines = []
        for frame in frames:
            line, poll_or_ack = ref.log_line(frame)
            if polls_shown or not poll_or_ack:
                lines.append(line)
        return lines

    def test_0_reference_model_matches_the_worked_examples(self):
        for wire, line in [("FB 01 F6", "ID 1 Rx: Poll message (insecure)."),
                           ("FB 01 82 F0 00 F6", "ID 1 Rx: Poll message (secure)."),
                           ("FB 01 8D F0 0F F6", "ID 1 Rx: Config message (0xFB)."),
                           ("F2 05 01 02 03 04 78 1D F6", "ID 5 Rx: Indication data message: 01-02 03-04."),
                           ("F4 09 11 87 AE F6", "ID 9 Rx: Unknown 0xF4 message: 11."),
                           ("FD 01 00 00 F6", "CRC failed: FD 01 00 00 F6.")]:
            self.assertEqual(ref.log_line(bytes.fromhex(wire))[0], line)
        self.assertEqual(ref.crc16(b"123456789"), 0xBB3D)

    def test_1_hidden_polls_are_counted_but_not_shown(self):
        # A frame or two the unit sent before its pause reach the program when the port opens;
        # they belong to this phase, whose lines follow the port's.
        self.assertEqual(self.log_texts()[0], "Opened COM1 at 9600 baud.")
        want = self.run_phase(polls_shown=False)
        shown = self.log_texts()[1:]
        self.assertTrue(want, "the phase produced no line to show")
        self.assertEqual(shown, want)
        self.assertFalse([line for line in shown if re.search(r"Poll message|Ack (master|slave)", line)])

    def test_2_ticked_polls_are_shown(self):
        before = self.log_texts()
        self.ui("check 0:1095 on")
        want = self.run_phase(polls_shown=True)
        self.assertEqual(self.log_texts()[len(before) - self.trimmed(before):], want)
        self.assertTrue(any("Poll message" in line for line in self.log_texts()))

    def test_3_unticked_again(self):
        self.ui("check 0:1095 off")
        before = self.log_texts()
        want = self.run_phase(polls_shown=False)
        self.assertEqual(self.log_texts()[len(before) - self.trimmed(before):], want)

    def trimmed(self, before):
        """Lines the control dropped from the front since 'before' (it keeps at most 59)."""
        now = self.log_texts()
        for drop in range(0, len(before) + 1):
            if now[:len(before) - drop] == before[drop:]:
                return drop
        self.fail("the earlier lines are not at the front of the log")

    def test_4_comms_log_file_gets_exactly_the_shown_lines(self):
        path = os.path.join(self.session.dir, "CommsLog.txt")
        self.assertFalse(os.path.exists(path))
        self.ui("check 0:1094 on")
        self.ui("check 0:1095 on")
        want = self.run_phase(polls_shown=True, frames_wanted=15)
        self.ui("check 0:1094 off")
        shown = self.ui("text 0:1016").split("\r\n")
        with open(path, "rb") as f:
            content = f.read().decode("latin-1")
        self.assertTrue(content.endswith("\r\n"))
        file_lines = content[:-2].split("\r\n")
        self.assertEqual(len(file_lines), len(want))
        dates = {line.split("\t", 1)[0] for line in file_lines}
        self.assertEqual(len(dates), 1, dates)
        self.assertTrue(all(d and "\t" not in d for d in dates))
        without_date = [line.split("\t", 1)[1] for line in file_lines]
        tail = [line for line in shown if line][-len(without_date):]
        self.assertEqual(without_date, tail)
        self.assertEqual([line.split("\t", 1)[1] for line in without_date], want)


# The decoder's worked examples, then an escape prefix that swallows the terminator (an insecure
# poll) and an insecure master acknowledgement: bytes as received, and the lines they must give.
WORKED_EXAMPLES = [
    ("FB 01 F6", ["ID 1 Rx: Poll message (insecure)."]),
    ("FB 01 82 F0 00 F6", ["ID 1 Rx: Poll message (secure)."]),
    ("FB 01 8D F0 0F F6", ["ID 1 Rx: Config message (0xFB)."]),
    ("F2 05 01 02 03 04 78 1D F6", ["ID 5 Rx: Indication data message: 01-02 03-04."]),
    ("F2 05 01 02 03 29 B8 F6", ["ID 5 Rx: Indication data message: 01-02 03-29."]),
    ("F4 09 11 87 AE F6", ["ID 9 Rx: Unknown 0xF4 message: 11."]),
    ("FD 01 00 00 F6", ["CRC failed: FD 01 00 00 F6."]),
    ("41 42", ["Received unknown data.", "Received unknown data."]),
    ("FB 01 F0 F6", ["ID 1 Rx: Poll message (insecure)."]),
    ("F1 02 F6", ["ID 2 Rx: Ack master message."]),
]
PAD = 300  # terminators outside a frame make no line: 3 s of quiet line at 100 bytes a second


class WorkedExamplesTest(ProgramCase):
    NAME = "worked-examples"

    @classmethod
    def unit_args(cls):
        path = os.path.join(cls.session.root, "examples.bin")
        with open(path, "wb") as f:
            f.write(bytes([0xF6] * PAD) + b"".join(bytes.fromhex(w) for w, _ in WORKED_EXAMPLES))
        return ("--replay", path, "--replay-rate", "100")

    @classmethod
    def before_program(cls):
        os.kill(cls.unit.proc.pid, signal.SIGSTOP)  # still inside the padding

    def test_lines_and_counter(self):
        self.ui("check 0:1095 on")
        os.kill(self.unit.proc.pid, signal.SIGCONT)
        want = [line for _, lines in WORKED_EXAMPLES for line in lines]
        self.wait_log(want[-1], timeout_ms=15000)
        self.assertEqual(self.log_texts(), ["Opened COM1 at 9600 baud."] + want)
        self.assertEqual(self.ui("text 0:1004"), "3/1")


if __name__ == "__main__":
    unittest.main(verbosity=2)
