"""Port handling: baud switches reopen the port, "None" releases it, a port held by another
process or no port at all gives the error box, and ports from 10 up use their long names."""
import unittest

from harness import wait_until
from program_case import ProgramCase

FAILED_BOX = "Failed to open serial port '{}'\nError code -1"


class PortSwitchingTest(ProgramCase):
    NAME = "ports"
    UNIT_ARGS = ()

    @classmethod
    def before_program(cls):
        cls.unit12 = cls.session.add_unit(com=12, name="com12")

    def pick_and_wait(self, target, item, line):
        self.ui(f"pick {target} {item}")
        self.wait_log(line)

    def test_1_list_holds_both_ports_in_order(self):
        self.assertEqual(self.ui("items 0:1012").splitlines(), ["None", "COM1", r"\\.\COM12"])

    def test_2_baud_switch_closes_and_reopens(self):
        self.wait_modem(rts=1, dtr=1)
        mark = len(self.session.modem.events(self.unit.path))
        self.pick_and_wait("0:1013", "19200", "Opened COM1 at 19200 baud.")
        self.wait_modem(rts=1, dtr=1)
        changes = [f"{line}{value}" for _, _, line, value in self.session.modem.events(self.unit.path)[mark:]]
        self.assertEqual(changes[:2], ["RTS0", "DTR0"], changes)
        self.assertIn("RTS1", changes[2:])
        self.assertIn("DTR1", changes[2:])

    def test_3_none_closes_and_releases(self):
        self.pick_and_wait("0:1012", "None", "Port closed.")
        self.wait_modem(rts=0, dtr=0)
        wait_until(lambda: not self.unit.holders(), 5, "the port to be released")
        before = self.log_texts().count("Port closed.")
        self.pick_and_wait("0:1013", "9600", "Port closed.")  # a baud pick with "None" selected
        wait_until(lambda: self.log_texts().count("Port closed.") == before + 1, 5, "a second Port closed.")
        self.assertEqual(self.unit.holders(), [])

    def test_4_port_held_by_another_process(self):
        self.session.refuse_com(1)
        try:
            self.ui("pick 0:1012 COM1")
            self.assertEqual(self.ui("owner"), "sheet")
            self.assertEqual(self.ui("box"), FAILED_BOX.format("COM1"))
            self.wait_log("Failed to open COM1 at 9600 baud.")
            self.assertEqual(self.ui("text 0:1012"), "None")
        finally:
            self.session.map_com(1, self.unit.path)
        self.pick_and_wait("0:1012", "COM1", "Opened COM1 at 9600 baud.")

    def test_5_long_port_name(self):
        self.pick_and_wait("0:1012", r"\\.\COM12", r"Opened \\.\COM12 at 9600 baud.")
        wait_until(lambda: self.unit12.holders(), 5, "COM12 to be opened")
        wait_until(lambda: not self.unit.holders(), 5, "COM1 to be released")


class PortHeldAtStartTest(ProgramCase):
    NAME = "port-held"
    UNIT_ARGS = None

    @classmethod
    def before_program(cls):
        cls.session.refuse_com(1)

    @classmethod
    def after_start(cls):
        pass

    def test_busy_port_is_listed_and_fails_to_open(self):
        self.assertEqual(self.ui("owner"), "sheet")
        self.assertEqual(self.ui("box"), FAILED_BOX.format("COM1"))
        self.wait_log("Failed to open COM1 at 9600 baud.")
        self.assertEqual(self.ui("items 0:1012").splitlines(), ["None", "COM1"])
        self.assertEqual(self.ui("text 0:1012"), "None")
        self.assertNotIn("Port closed.", self.log_texts())


class NoPortTest(ProgramCase):
    NAME = "no-port"
    UNIT_ARGS = None

    @classmethod
    def after_start(cls):
        pass

    def test_automatic_open_of_no_port(self):
        self.assertEqual(self.ui("box"), FAILED_BOX.format(""))
        self.wait_log("Failed to open  at 9600 baud.")
        self.assertEqual(self.ui("items 0:1012").splitlines(), ["None"])
        self.assertEqual(self.ui("text 0:1012"), "None")
        self.assertEqual(self.log_texts(), ["Failed to open  at 9600 baud."])


if __name__ == "__main__":
    unittest.main(verbosity=2)
