"""Shut-down with the port open and traffic flowing: the process ends within 2 s and RTS and
DTR drop; nothing holds the port afterwards."""
import time
import unittest

from program_case import ProgramCase


class ShutDownTest(ProgramCase):
    NAME = "shutdown"
    UNIT_ARGS = ("--traffic", "200", "--stations", "5,7,9")

    @classmethod
    def after_start(cls):
        # At this rate the log rolls the "Opened" line away within a second; a counter that
        # has moved shows the port open and the line alive.
        cls.ui("wait 0:1004 re [1-9]")

    def test_close_during_traffic(self):
        self.ui("check 0:1095 on")  # every frame a log line: the busiest receive path
        self.wait_log("Rx: Poll message")
        self.wait_modem(rts=1, dtr=1)
        started = time.monotonic()
        self.ui("click sheet:2")
        elapsed = self.session.program_exit(timeout=10)
        self.assertLess(time.monotonic() - started, 2.0, f"the program took {elapsed:.2f} s to end")
        self.assertEqual(self.modem_levels(), {"RTS": 0, "DTR": 0})
        self.assertEqual(self.unit.holders(), [])
        self.assertEqual(self.ui("sheets"), "0")


if __name__ == "__main__":
    unittest.main(verbosity=2)
