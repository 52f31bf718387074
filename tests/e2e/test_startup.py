"""Start-up: one centred sheet on the Comms page with Close and Help, COM1 opened by itself at
9600 baud with RTS and DTR raised; screenshots of the three pages."""
import unittest

from program_case import ProgramCase, OPENED_9600


class StartUpTest(ProgramCase):
    NAME = "startup"
    UNIT_ARGS = ()  # the default unit at address 1, a quiet line

    def test_1_one_sheet_centred_on_the_comms_page(self):
        self.assertEqual(self.ui("sheets"), "1")
        self.assertEqual(self.ui("page"), "0")
        left, top, right, bottom = map(int, self.ui("rect sheet").split())
        width, height = map(int, self.ui("screen").split())
        self.assertLessEqual(abs((left + right) - width), 4, f"sheet {left}..{right} on {width}")
        self.assertLessEqual(abs((top + bottom) - height), 4, f"sheet {top}..{bottom} on {height}")

    def test_2_close_and_help_but_no_ok_or_apply(self):
        buttons = {}
        for line in self.ui("controls sheet").splitlines():
            ident, kind, visible, enabled, text = (line.split(" ", 4) + [""])[:5]
            if kind == "Button":
                buttons[int(ident)] = (visible, enabled, text)
        self.assertEqual(buttons[2], ("visible", "enabled", "Close"))
        self.assertEqual(buttons[9][0:2], ("visible", "enabled"))
        self.assertEqual(buttons[9][2].replace("&", ""), "Help")
        for hidden in (1, 12321):  # OK and Apply
            if hidden in buttons:
                self.assertEqual(buttons[hidden][0], "hidden", f"button {hidden}: {buttons[hidden]}")

    def test_3_com1_opened_at_9600_with_rts_and_dtr_raised(self):
        self.assertEqual(self.ui("items 0:1012").splitlines(), ["None", "COM1"])
        self.assertEqual(self.ui("text 0:1012"), "COM1")
        self.assertEqual(self.ui("items 0:1013").splitlines(), ["1200", "2400", "4800", "9600", "19200"])
        self.assertEqual(self.ui("text 0:1013"), "9600")
        self.assertEqual(self.log_texts(), [OPENED_9600])
        self.wait_modem(rts=1, dtr=1)
        rts_ms = [ms for ms, _, line, value in self.session.modem.events(self.unit.path)
                  if (line, value) == ("RTS", 1)][0]
        # The page opens the port from a 200 ms timer, not while it is being made.
        delay = rts_ms - self.session.sheet_seen_ms
        print(f"RTS rose {delay:.0f} ms after the sheet was seen")
        self.assertGreater(delay, 100)
        self.assertLess(delay, 2000)

    def test_4_comms_page_initial_state(self):
        self.assertEqual(self.ui("text 0:1020"), "1")
        self.assertEqual(self.ui("text 0:1004"), "0/0")
        self.assertIn("unchecked", self.ui("state 0:1094"))
        self.assertIn("unchecked", self.ui("state 0:1095"))

    def test_5_other_pages_are_made_when_first_shown(self):
        ok, _, message = self.ui.run("text 1:1011")
        self.assertFalse(ok)
        self.assertIn("does not exist yet", message)
        self.shoot_pages()
        self.assertEqual(self.ui("text 1:1011"), "Set to defaults.")


if __name__ == "__main__":
    unittest.main(verbosity=2)
