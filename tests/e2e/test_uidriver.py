"""The UI driver against its own test sheet, which logs every notification it receives."""
import os
import re
import subprocess
import unittest

from harness import Session


class UiDriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.session = Session("uidriver").start()
        cls.session.start_program()
        cls.ui = cls.session.driver()

    @classmethod
    def tearDownClass(cls):
        cls.session.close()

    def log_lines(self):
        return self.ui("text 0:1016").splitlines()

    def new_lines(self, action):
        """The notification lines the sheet logged because of one driver command."""
        before = len(self.log_lines())
        self.ui(action)
        self.ui("pause 100")  # posted notifications: let the sheet handle them
        return [line for line in self.log_lines()[before:] if not re.match(r"command \d+ \d+$", line)]

    def test_sheet_layout_and_pages(self):
        self.assertEqual(self.ui("sheets"), "1")
        self.assertEqual(self.ui("page"), "0")
        controls = {line.split(" ")[0]: line for line in self.ui("controls sheet").splitlines()}
        self.assertRegex(controls["2"], r"^2 Button visible enabled Close$")
        self.assertRegex(controls["1"], r"^1 Button hidden ")
        left, top, right, bottom = map(int, self.ui("rect sheet").split())
        width, height = map(int, self.ui("screen").split())
        self.assertTrue(0 <= left < right <= width and 0 <= top < bottom <= height)
        ok, _, message = self.ui.run("text 1:1005")
        self.assertFalse(ok)
        self.assertIn("page 1 does not exist yet", message)
        self.ui("page 1")
        self.assertEqual(self.ui("page"), "1")
        self.assertEqual(self.ui("text 1:1005"), "Not shown until selected")
        self.ui("page 0")

    def test_list_items_and_pick(self):
        self.assertEqual(self.ui("items 0:1012").splitlines(), ["None", "COM1", r"\\.\COM12"])
        self.assertEqual(self.new_lines(r"pick 0:1012 \\.\COM12"), [r"pick 1012 2 '\\.\COM12'"])
        self.assertEqual(self.ui("text 0:1012"), r"\\.\COM12")
        ok, _, message = self.ui.run("pick 0:1012 COM2")
        self.assertFalse(ok)
        self.assertIn("no item", message)

    def test_type_sends_one_change_per_text(self):
        self.assertEqual(self.new_lines("type 0:1020 300"), ["change 1020 '300'"])
        self.assertEqual(self.new_lines("type 0:1020"), ["change 1020 ''"])
        self.assertEqual(self.ui("text 0:1020"), "")

    def test_check_box_clicks_only_on_a_change(self):
        self.assertEqual(self.new_lines("check 0:1095 on"), ["click 1095 ticked"])
        self.assertEqual(self.new_lines("check 0:1095 on"), [])
        self.assertIn("checked", self.ui("state 0:1095"))
        self.assertEqual(self.new_lines("check 0:1095 off"), ["click 1095 clear"])
        self.assertIn("unchecked", self.ui("state 0:1095"))

    def test_help_reaches_the_page(self):
        self.assertEqual(self.new_lines("help 0:1020"), ["help 1020"])
        self.assertEqual(self.new_lines("click sheet:9"), ["sheet help"])

    def test_waits_match_and_time_out(self):
        self.ui("type 0:1020 4711")
        self.assertEqual(self.ui("wait 0:1020 is 4711"), "4711")
        self.assertEqual(self.ui("wait 0:1020 has 71"), "4711")
        self.assertEqual(self.ui("wait 0:1020 re ^4[0-9]+$"), "4711")
        self.ui("timeout 300")
        try:
            ok, ms, message = self.ui.run("wait 0:1020 is 4712")
        finally:
            self.ui("timeout 5000")
        self.assertFalse(ok)
        self.assertIn('reads "4711"', message)
        self.assertGreaterEqual(ms, 300)
        self.assertLess(ms, 3000)

    def test_message_box_is_read_and_answered(self):
        self.ui("no-box 200")
        self.ui("click 0:1021")
        self.assertEqual(self.ui("owner"), "sheet")
        self.assertIn("Kelpro - Config S2-QTX | sheet | Something failed", self.ui("boxes"))
        self.assertEqual(self.ui("box"), "Something failed\nError code -1")
        self.assertEqual(self.ui("wait 0:1016 has box answered 1").count("box answered 1"), 1)
        ok, _, message = self.ui.run("no-box 100")
        self.assertTrue(ok, message)

    def test_file_dialogs(self):
        folder = os.path.join(self.session.dir, "files")
        os.makedirs(folder, exist_ok=True)
        existing = os.path.join(folder, "exists.klp")
        with open(existing, "wb") as f:
            f.write(bytes(14))
        win_existing = self.session.windows_path(existing)
        win_new = self.session.windows_path(os.path.join(folder, "new name.klp"))

        self.ui("click 0:1022")
        self.assertEqual(self.ui(f"open {win_existing}"), "")
        self.ui(f"wait 0:1016 has open {win_existing}")

        self.ui("click 0:1023")
        self.assertEqual(self.ui(f"save {win_new}"), "")
        self.ui(f"wait 0:1016 has save {win_new}")

        self.ui("click 0:1023")
        question = self.ui(f"save {win_existing}")
        self.assertIn("already exists", question)
        self.ui("answer 6 Save config file")
        self.ui(f"wait 0:1016 has save {win_existing}")

    def test_errors_are_reported_not_hung(self):
        for command, expected in [("frobnicate", "unknown command"),
                                  ("click 0", "is not a control"),
                                  ("text 0:4242", "no control 4242"),
                                  ("check 0:1095 maybe", "on or off"),
                                  ("wait 0:1020 like x", "is, has or re")]:
            ok, _, message = self.ui.run(command)
            self.assertFalse(ok, command)
            self.assertIn(expected, message, command)

    def test_one_command_per_invocation(self):
        def run(*args):
            done = subprocess.run(["wine", os.environ["KLP_UIDRIVER"], *args], env=self.session.env,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
            return done.returncode, done.stdout, done.stderr
        self.ui("type 0:1020 815")
        self.assertEqual(run("text", "0:1020"), (0, "815\n", ""))
        code, out, err = run("--timeout", "200", "wait", "0:1020", "is", "816")
        self.assertEqual((code, out), (1, ""))
        self.assertIn('reads "815"', err)
        self.assertEqual(run("check", "0:1095")[0], 2)  # on or off missing
        code, out, _ = run("--help")
        self.assertEqual(code, 0)
        self.assertIn("wait TARGET is|has|re TEXT", out)

    def test_resources_of_the_program(self):
        fields = dict(item.split("=") for item in self.ui("resources").split())
        self.assertEqual(set(fields), {"pid", "handles", "gdi", "user", "private", "workingset"})
        self.assertGreater(int(fields["workingset"]), 1 << 20)

    def test_zz_close_ends_the_sheet(self):
        self.ui("click sheet:2")
        elapsed_ms = int(self.ui("gone"))
        self.assertLess(elapsed_ms, 2000)
        self.session.program_exit(10)
        self.assertEqual(self.ui("sheets"), "0")


if __name__ == "__main__":
    unittest.main(verbosity=2)
