"""Configuration: defaults on a fresh page, Read against the unit, Write with clamped values and
the commit at the record's slave ID, Save and Open through the real file dialogs, a file of the
wrong size, answers that come too late, and answers to requests other than the one made."""
import os
import unittest

import genisys_ref as ref
from harness import wait_until
from program_case import ProgramCase

UNIT_RECORD = bytes.fromhex("85050501323C0A034407140B1E0F")
TEXT_IDS = [1035, 1026, 1036, 1039, 1038, 1028, 1012, 1013, 1040, 1041, 1025, 1007, 1008]
CHECK_IDS = [1019, 1015, 1017, 1027, 1031, 1033, 1034, 1037, 1021]

DEFAULTS = {1035: "1", 1026: "9600", 1036: "5", 1039: "1000", 1038: "30", 1028: "US&S",
            1012: "1", 1013: "2", 1040: "5", 1041: "500", 1025: "2400/2400", 1007: "120",
            1008: "40", 1019: False, 1015: True, 1017: True, 1027: False, 1031: False,
            1033: False, 1034: False, 1037: False, 1021: False}
# UNIT_RECORD as the page shows it.
UNIT_PAGE = {1035: "1", 1026: "19200", 1036: "10", 1039: "500", 1038: "60", 1028: "GE/Harmon",
             1012: "3", 1013: "4", 1040: "7", 1041: "200", 1025: "4800/1200", 1007: "200",
             1008: "100", 1019: True, 1015: False, 1017: True, 1027: False, 1031: False,
             1033: True, 1034: False, 1037: False, 1021: False}


class ConfigPageCase(ProgramCase):
    def page_values(self):
        values = {i: self.ui(f"text 1:{i}") for i in TEXT_IDS}
        values.update({i: " checked" in self.ui(f"state 1:{i}") for i in CHECK_IDS})
        return values

    def status(self, text):
        return self.ui(f"wait 1:1011 is {text}")


class ExchangeTest(ConfigPageCase):
    NAME = "config"

    @classmethod
    def unit_args(cls):
        cls.unit_file = os.path.join(cls.session.root, "unit.klp")
        return ("--unit", "1", "--record-hex", UNIT_RECORD.hex(), "--record", cls.unit_file,
                "--firmware", "3.7", "--mode", "2", "--reset-ms", "0")

    def test_1_defaults_on_a_fresh_page(self):
        self.show_page(1)
        self.status("Set to defaults.")
        self.assertEqual(self.page_values(), DEFAULTS)
        self.assertIn("enabled", self.ui("state 1:1013"))

    def test_2_read_shows_the_units_record(self):
        self.ui("click 1:1006")
        self.status("Read complete. (F/W v3.7)")
        self.assertEqual(self.ui("text 1:1014"), "Dip Switch: 1 off, 2 on, 3 off, 4 -  =  direct, async.")
        self.assertEqual(self.page_values(), UNIT_PAGE)
        self.assertIn("disabled", self.ui("state 1:1013"))
        self.assertEqual(self.unit.captured(), ref.encode(0xFB, 1))

    def test_3_write_sends_clamped_values_and_commits_at_the_new_slave_id(self):
        for ident, text in [(1039, "5"), (1035, "7"), (1041, "5")]:
            self.ui(f"type 1:{ident} {text}")
        self.ui("check 1:1034 on")
        before = len(self.unit.captured())
        self.ui("click 1:1005")
        self.status("Upload completed successfully, sent save/reset.")
        shown = self.page_values()
        self.assertEqual((shown[1039], shown[1035], shown[1041]), ("100", "7", "20"))
        record = bytes([0x95, 0x01, 5, 7, 10, 60, 10, 3, 0x44, 7, 2, 11, 30, 15])
        wanted = ref.encode(0xFC, 1, record) + ref.encode(0xFE, 7)
        self.assertEqual(self.unit.wait_captured(before + len(wanted), 5)[before:], wanted)
        wait_until(lambda: os.path.exists(self.unit_file), 5, "the unit to save its record")
        with open(self.unit_file, "rb") as f:
            self.assertEqual(f.read(), record)
        type(self).after_write = shown

    def test_4_read_back_equals_what_the_page_showed(self):
        self.show_page(0)
        self.ui("type 0:1020 7")  # the unit answers at its new slave ID after its reset
        self.show_page(1)
        self.ui("click 1:1006")
        self.status("Read complete. (F/W v3.7)")
        self.assertEqual(self.page_values(), self.after_write)
        self.assertEqual(self.ui("text 1:1014"), "Dip Switch: 1 off, 2 on, 3 on, 4 -  =  direct, async.")

    def test_5_save_and_open_round_trip_through_the_file_dialogs(self):
        path = os.path.join(self.session.dir, "saved.klp")
        shown = self.page_values()
        self.ui("click 1:1016")
        self.assertEqual(self.ui(f"save {self.session.windows_path(path)}"), "")
        wait_until(lambda: os.path.exists(path) and os.path.getsize(path) == 14, 5, "the saved file")
        with open(path, "rb") as f:
            self.assertEqual(f.read(), bytes([0x95, 0x01, 5, 7, 10, 60, 10, 3, 0x44, 7, 2, 11, 30, 15]))
        self.ui("type 1:1038 99")
        self.ui("click 1:1010")
        self.status("Set to defaults.")
        self.ui("click 1:1018")
        self.assertEqual(self.ui(f"open {self.session.windows_path(path)}"), "")
        self.ui("wait 1:1038 is 60")
        self.assertEqual(self.page_values(), shown)
        self.assertEqual(self.ui("text 1:1011"), "Set to defaults.")  # Open leaves the status

    def test_6_a_file_of_the_wrong_size_is_refused(self):
        path = os.path.join(self.session.dir, "short.klp")
        with open(path, "wb") as f:
            f.write(UNIT_RECORD[:13])
        shown = self.page_values()
        self.ui("click 1:1018")
        self.assertEqual(self.ui(f"open {self.session.windows_path(path)}"), "")
        self.assertEqual(self.ui("owner"), "none")
        self.assertEqual(self.ui("box"), "Config file is wrong size")
        self.assertEqual(self.page_values(), shown)


class LateAnswerTest(ConfigPageCase):
    NAME = "config-late"
    UNIT_ARGS = ("--delay", "1300")

    def test_1_late_read_response_is_unexpected(self):
        self.show_page(1)
        self.status("Set to defaults.")
        self.ui("click 1:1006")
        self.status("Sent config read request...")
        self.status("Received unexpected configuration read message.")
        self.assertEqual(self.page_values(), DEFAULTS)

    def test_2_late_write_acknowledgement_is_unexpected(self):
        before = len(self.unit.captured())
        self.ui("click 1:1005")
        self.status("Sending write command.")
        self.status("Received unexpected write complete message.")
        self.ui("pause 500")
        self.assertEqual(ref.split_frames(self.unit.captured()[before:])[-1][0], 0xFC)  # no commit

    def test_3_read_with_no_port_open(self):
        self.show_page(0)
        self.ui("pick 0:1012 None")
        self.wait_log("Port closed.")
        self.show_page(1)
        self.ui("click 1:1006")
        self.assertEqual(self.ui("owner"), "sheet")
        self.assertEqual(self.ui("box"), "Failed to send read request packet")


class AnswersToOtherRequestsTest(ConfigPageCase):
    """Units that answer what they were not asked: each answer counts only for its own request."""
    NAME = "config-others"
    # 1: silent, but 800 ms after the first frame it hears it acknowledges unasked; 3: silent;
    # 4: answers 2 s late; two units at 5; 6: answers 1.5 s late.
    UNIT_ARGS = ("--unit", "1", "--silent", "--unasked-ack", "800", "--unit", "3", "--silent",
                 "--unit", "4", "--delay", "2000", "--unit", "5", "--unit", "5",
                 "--unit", "6", "--delay", "1500")

    def slave_to_config(self, address):
        self.show_page(0)
        self.ui(f"type 0:1020 {address}")
        self.show_page(1)

    def commits(self, since):
        return [f for f in ref.split_frames(self.unit.captured()[since:]) if f[0] == 0xFE]

    def test_1_an_acknowledgement_from_the_address_changed_to_commits_nothing(self):
        self.slave_to_config(3)
        before = len(self.unit.captured())
        self.ui("click 1:1005")  # to 3, silent; unit 1 acknowledges 800 ms after hearing it
        self.slave_to_config(1)
        self.ui("pause 1500")
        self.assertEqual(self.ui("text 1:1011"), "Sending write command.")
        self.assertEqual(self.commits(before), [])

    def test_2_a_read_response_from_another_address_is_unexpected(self):
        shown = self.page_values()
        self.slave_to_config(4)
        self.ui("click 1:1006")  # answered 2 s later, inside the window of the read to 1
        self.ui("pause 1100")
        self.slave_to_config(1)
        self.ui("click 1:1006")
        self.status("Received unexpected configuration read message.")
        self.assertEqual(self.page_values(), shown)

    def test_3_two_units_at_one_address(self):
        self.slave_to_config(5)
        self.ui("click 1:1006")
        self.status("Two units answered at address 5; the form shows the first.")
        before = len(self.unit.captured())
        self.ui("click 1:1005")
        self.status("Two units acknowledged at address 5; one commit was sent.")
        self.ui("pause 300")
        self.assertEqual(len(self.commits(before)), 1)

    def test_4_a_late_acknowledgement_after_a_read_commits_nothing(self):
        self.slave_to_config(6)
        before = len(self.unit.captured())
        self.ui("click 1:1005")  # acknowledged 1.5 s later, 0.4 s after the read below
        self.ui("pause 1100")
        self.ui("click 1:1006")
        self.status("Received unexpected write complete message.")
        self.assertEqual(self.commits(before), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
