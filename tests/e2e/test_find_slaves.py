"""Find Slaves: the estimate line for the baud rate, exactly 255 configuration read requests
for addresses 1 to 255 at the unit, byte for byte, no transmit lines, and every unit that
answers shows as a configuration line with its address."""
import unittest

import genisys_ref as ref
from harness import wait_until
from program_case import ProgramCase

ESTIMATE = "Polling all slave addresses. This will take about {} Sec."
ALL_REQUESTS = b"".join(ref.encode(0xFB, address) for address in range(1, 256))


class FindSlavesTest(ProgramCase):
    NAME = "find-slaves"
    UNIT_ARGS = ("--unit", "1", "--unit", "7")

    def test_1_at_9600_baud(self):
        self.ui("click 0:1021")
        self.wait_log(ESTIMATE.format("0.8"))
        self.assertEqual(self.unit.wait_captured(len(ALL_REQUESTS), 20), ALL_REQUESTS)
        self.wait_log("ID 7 Rx: Config message (receive data).")
        self.wait_log("ID 1 Rx: Config message (receive data).")
        texts = self.log_texts()
        self.assertEqual([t for t in texts if "Tx:" in t], [])
        answers = [t for t in texts if t.startswith("ID ") and "Rx: Config message" in t]
        self.assertEqual(sorted(answers), ["ID 1 Rx: Config message (receive data).",
                                           "ID 7 Rx: Config message (receive data)."])
        self.assertEqual(texts.index(ESTIMATE.format("0.8")), 1)  # before any answer

    def test_2_estimate_at_each_rate(self):
        for baud, seconds in [("1200", "6.4"), ("2400", "3.2"), ("4800", "1.6"), ("19200", "0.4")]:
            with self.subTest(baud=baud):
                self.ui(f"pick 0:1013 {baud}")
                self.wait_log(f"Opened COM1 at {baud} baud.")
                sent = len(self.unit.captured())
                self.ui("click 0:1021")
                self.wait_log(ESTIMATE.format(seconds))
                wait_until(lambda: self.unit.captured()[sent:] == ALL_REQUESTS, 30,
                           f"255 requests at {baud} baud")


if __name__ == "__main__":
    unittest.main(verbosity=2)
