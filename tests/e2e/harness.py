"""End-to-end harness: a Wine prefix, a virtual display and the UI driver for one test file.

A test file builds one Session: a copy of the run's template prefix (hard links, so it costs
a fraction of a second), its own Xvfb, its own wineserver, and helpers to map COM ports, start
the program and the virtual unit, drive the sheet and take screenshots. Every wait is bounded.
"""
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

SHEET_CAPTION = "Kelpro (S2 to Genisys, 2 x 64 bit version)"
BOX_CAPTION = "Kelpro - Config S2-QTX"


class HarnessError(Exception):
    pass


def env_path(name):
    value = os.environ.get(name, "")
    if not value:
        raise HarnessError(f"{name} is not set (run the test through CTest)")
    return value


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns a true value or timeout seconds pass."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {timeout}s waiting for {what}")
        time.sleep(interval)


def make_template(path):
    """Creates the run's template prefix once: wineboot is slow, copies are not. It is built
    beside its final place and renamed, so a half-made template is never used."""
    if os.path.exists(os.path.join(path, "system.reg")):
        return
    building = path + ".building"
    shutil.rmtree(building, ignore_errors=True)
    os.makedirs(building)
    _boot_template(building)
    shutil.rmtree(path, ignore_errors=True)
    os.rename(building, path)


def _boot_template(path):
    env = wine_env(path)
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], env=env, check=True, timeout=30, **quiet)
    try:
        subprocess.run(["wineboot", "-i"], env=env, check=True, timeout=180, **quiet)
        # Without a window manager Wine waits 2 s for every top-level window it hides, unless
        # its windows are unmanaged; the tests time closing boxes and the program.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=env, check=True, timeout=60, **quiet)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=30, **quiet)


def wine_env(prefix, display=None):
    env = dict(os.environ)
    env.update(WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    if display:
        env["DISPLAY"] = display
    env.pop("LD_PRELOAD", None)
    return env


def copy_prefix(template, target):
    """Hard-linked copy; the registry files, which wineserver rewrites, are real copies."""
    subprocess.run(["cp", "-al", template, target], check=True, timeout=60)
    for name in os.listdir(target):
        if name.endswith(".reg"):
            dst = os.path.join(target, name)
            os.unlink(dst)
            shutil.copy2(os.path.join(template, name), dst)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)


class DriverError(HarnessError):
    pass


class Driver:
    """The UI driver in script mode: one command a line, one answer a line."""

    def __init__(self, session):
        self.proc = subprocess.Popen(
            ["wine", env_path("KLP_UIDRIVER"), "-"], env=session.env, cwd=session.dir,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True, encoding="latin-1", bufsize=1)
        self.last_ms = 0

    def run(self, line):
        """Returns (ok, milliseconds, output) of one command."""
        if "\n" in line:
            raise DriverError("one command a line")
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline()
        if not answer:
            raise DriverError(f"the driver ended during: {line}")
        status, ms, output = answer.rstrip("\n").split("\t", 2)
        self.last_ms = int(ms)
        return status == "ok", int(ms), unescape(output)

    def __call__(self, line):
        ok, _, output = self.run(line)
        if not ok:
            raise DriverError(f"{line}: {output}")
        return output

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.close()
                self.proc.wait(timeout=10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait(timeout=10)


class Session:
    """One test file's Wine world: prefix, display, wineserver, program, driver."""

    def __init__(self, name):
        self.name = name
        self.root = tempfile.mkdtemp(prefix=f"klp-e2e-{name}.")
        self.dir = os.path.join(self.root, "work")  # the program's current directory
        os.makedirs(self.dir)
        self.prefix = os.path.join(self.root, "prefix")
        self.shots = os.path.join(env_path("KLP_E2E_OUT"), name)
        os.makedirs(self.shots, exist_ok=True)
        self.xvfb = None
        self.program = None
        self.driver_proc = None
        self.display = None
        self.env = None

    # --- set-up and tear-down -------------------------------------------------------------

    def start(self):
        template = env_path("KLP_E2E_TEMPLATE")
        make_template(template)
        copy_prefix(template, self.prefix)
        self._start_display()
        self.env = wine_env(self.prefix, self.display)
        quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-p"], env=self.env, check=True, timeout=30, **quiet)
        # The first client starts the prefix's services, which keep its stdio: give them none.
        subprocess.run(["wine", "wineboot"], env=self.env, timeout=120, **quiet)
        return self

    def _start_display(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise HarnessError("Xvfb did not start")
        self.display = ":" + number

    def close(self):
        if self.driver_proc:
            self.driver_proc.close()
        self.stop_program()
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.close()

    # --- ports ----------------------------------------------------------------------------

    def map_com(self, number, device):
        """Makes COMn the given device: the registry entry, then the link, which the mount
        manager would otherwise have laid out to /dev/ttyS<n-1> when the services started."""
        key = r"HKLM\Software\Wine\Ports"
        self.wine(["reg", "add", key, "/v", f"COM{number}", "/d", device, "/f"])
        link = os.path.join(self.prefix, "dosdevices", f"com{number}")
        if os.path.lexists(link):
            os.unlink(link)
        if device:
            os.symlink(device, link)

    def remove_com(self, number):
        """Leaves no COMn: an empty registry value keeps the mount manager from adding it."""
        self.map_com(number, "")

    def wine(self, args, timeout=60):
        return subprocess.run(["wine"] + args, env=self.env, cwd=self.dir, timeout=timeout,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    # --- the program ----------------------------------------------------------------------

    def start_program(self, modem_log=None, extra_env=None):
        """Starts the program with the modem-control shim preloaded and waits for the sheet."""
        env = dict(self.env)
        shim = os.environ.get("KLP_PTYSHIM")
        if shim:
            env["LD_PRELOAD"] = shim
        if modem_log:
            env["KLP_MODEM_LOG"] = modem_log
        env.update(extra_env or {})
        self.program = subprocess.Popen(
            ["wine", env_path("KLP_PROGRAM")], env=env, cwd=self.dir,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        self.driver()("wait-sheet")
        return self.program

    def program_exit(self, timeout):
        """Waits for the program's process to end; returns seconds taken or raises."""
        start = time.monotonic()
        try:
            self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"the program did not end within {timeout}s")
        return time.monotonic() - start

    def stop_program(self):
        if self.program and self.program.poll() is None:
            try:
                os.killpg(self.program.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.program.wait(timeout=10)

    def driver(self):
        if not self.driver_proc:
            self.driver_proc = Driver(self)
        return self.driver_proc

    def screenshot(self, name):
        path = os.path.join(self.shots, name + ".png")
        subprocess.run(["import", "-display", self.display, "-window", "root", path],
                       check=True, timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def windows_path(self, path):
        """The path under which the program sees a Linux path (drive Z: is the root)."""
        return "Z:" + os.path.abspath(path).replace("/", "\\")


if __name__ == "__main__":
    import sys
    if len(sys.argv) != 3 or sys.argv[1] != "make-template":
        sys.exit("usage: harness.py make-template DIR")
    make_template(sys.argv[2])
