"""Help and About: with the manual missing, F1 and the Help button on each page name the
program's own directory; the About page shows the version text."""
import os
import re
import unittest

from program_case import ProgramCase


class HelpTest(ProgramCase):
    NAME = "help"

    def expected_message(self):
        return f"Failed to open {self.session.windows_path(self.session.program_dir)}\\KLP_V2Orizeze.pdf"

    def test_f1_and_help_button_on_every_page(self):
        focus = {0: 1016, 1: 1035, 2: 1003}  # F1 goes to the focused control, then its page
        for page in (0, 1, 2):
            for press in (f"help {page}:{focus[page]}", "click sheet:9"):
                with self.subTest(page=page, press=press):
                    self.show_page(page)
                    self.ui(press)
                    self.assertEqual(self.ui("owner"), "sheet")
                    self.assertEqual(self.ui("box"), self.expected_message())
                    self.ui("no-box 300")

    def test_about_page_version_text(self):
        self.show_page(2)
        text = self.ui("text 2:1005")
        version = re.escape(os.environ["KLP_VERSION_TEXT"])  # the build's, e.g. "1, 0, 0, 8"
        self.assertRegex(text, rf"^v{version}, compiled on [A-Z][a-z]{{2}} [ 0-9][0-9] [0-9]{{4}} "
                               r"at [0-9]{2}:[0-9]{2}:[0-9]{2}$")
        self.assertEqual(self.ui("text 2:1003"), "Visit Website")
        self.show_page(0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
