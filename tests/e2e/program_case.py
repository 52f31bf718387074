"""A test case around one run of the program: its session, its virtual unit on COM1, the UI
driver, and readers for what the user sees (the message log, the pages)."""
import os
import re
import unittest

from harness import Session, wait_until

OPENED_9600 = "Opened COM1 at 9600 baud."


class ProgramCase(unittest.TestCase):
    """Subclasses set UNIT_ARGS (klpsim's options; None for no unit and no COM port)."""

    UNIT_ARGS = ()
    NAME = None

    @classmethod
    def setUpClass(cls):
        cls.session = Session(cls.NAME or cls.__name__).start()
        cls.unit = None
        try:
            args = cls.unit_args()
            if args is None:
                cls.session.remove_com(1)
            else:
                cls.unit = cls.session.add_unit(*args)
            cls.before_program()
            cls.session.start_program()
            cls.ui = cls.session.driver()
            cls.ui("timeout 10000")
            cls.after_start()
        except BaseException:
            cls.session.close()
            raise

    @classmethod
    def unit_args(cls):
        return cls.UNIT_ARGS

    @classmethod
    def before_program(cls):
        pass

    @classmethod
    def after_start(cls):
        """By default: wait for the automatic open of COM1."""
        cls.ui(f"wait 0:1016 has {OPENED_9600}")

    @classmethod
    def tearDownClass(cls):
        try:
            cls.session.screenshot("final")  # what the screen showed at the end, for a failure
        except Exception:  # noqa: BLE001 - a missing picture must not hide the test's result
            pass
        cls.session.close()

    # --- what the user sees ---------------------------------------------------------------

    def log_texts(self):
        """The message log's lines without their time stamps."""
        return [line.split("\t", 1)[1] if "\t" in line else line
                for line in self.ui("text 0:1016").split("\r\n") if line]

    def wait_log(self, text, timeout_ms=10000):
        self.ui(f"timeout {timeout_ms}")
        try:
            self.ui(f"wait 0:1016 has {text}")
        finally:
            self.ui("timeout 10000")

    def counters(self):
        polls, acks = self.ui("text 0:1004").split("/")
        return int(polls), int(acks)

    def show_page(self, index):
        self.ui(f"page {index}")
        self.assertEqual(self.ui("page"), str(index))

    def shoot_pages(self, prefix=""):
        """Screenshots of the three pages, then back to the Comms page."""
        paths = []
        for index, name in enumerate(["comms", "config", "about"]):
            self.show_page(index)
            if index == 1:
                self.ui("wait 1:1011 re .")
            self.ui("pause 300")  # let the page paint
            paths.append(self.session.screenshot(prefix + name))
        self.show_page(0)
        for path in paths:
            self.assertGreater(os.path.getsize(path), 1000, path)
        return paths

    def modem_levels(self):
        return self.session.modem.levels(self.unit.path)

    def wait_modem(self, rts, dtr, timeout=5):
        want = {"RTS": rts, "DTR": dtr}
        wait_until(lambda: self.modem_levels() == want, timeout,
                   f"RTS {rts} and DTR {dtr} (now {self.modem_levels()})")


def without_stamp(line):
    return line.split("\t", 1)[1] if "\t" in line else line


def find_run(haystack, needle):
    """Index at which the list needle occurs as a contiguous run in haystack, or -1."""
    for start in range(len(haystack) - len(needle) + 1):
        if haystack[start:start + len(needle)] == needle:
            return start
    return -1


STAMP = re.compile(r"^[^\t]+\t")
