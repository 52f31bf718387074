"""End-to-end harness: a Wine prefix, a virtual display and the UI driver for one test file.

A test file builds one Session: a copy of the run's template prefix (hard links, so it costs
a fraction of a second), its own Xvfb, its own wineserver, and helpers to map COM ports, start
the program and the virtual unit, drive the sheet and take screenshots. Every wait is bounded.
"""
import os
import re
import selectors
import shutil
import signal
import socket
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
        install_wine_fonts(path)
        # Without a window manager Wine waits 2 s for every top-level window it hides, unless
        # its windows are unmanaged; the tests time closing boxes and the program.
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed",
                        "/d", "N", "/f"], env=env, check=True, timeout=60, **quiet)
    finally:
        subprocess.run(["wineserver", "-k"], env=env, timeout=30, **quiet)
        subprocess.run(["wineserver", "-w"], env=env, timeout=30, **quiet)


def install_wine_fonts(prefix):
    """Puts Wine's own Tahoma and Marlett into the prefix: this Wine build does not find them
    where Debian installs them, and without them pages and title bars draw with stand-ins."""
    fonts = os.path.join(prefix, "drive_c", "windows", "Fonts")
    os.makedirs(fonts, exist_ok=True)
    for name in ("tahoma.ttf", "tahomabd.ttf", "marlett.ttf"):
        source = os.path.join("/usr/share/wine/fonts", name)
        if os.path.exists(source):
            shutil.copy2(source, fonts)


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

class Unit:
    """The virtual unit (klpsim) on a pseudo-terminal; everything it receives is captured and
    everything it sends or receives is reported in its log (--verbose)."""

    def __init__(self, session, args, name="unit"):
        self.capture_path = os.path.join(session.root, name + ".capture")
        self.log_path = os.path.join(session.root, name + ".log")
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(
            [env_path("KLP_SIM"), "--capture", self.capture_path, "--verbose"] + list(args),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.path = self._first_line(10)

    def _first_line(self, timeout):
        with selectors.DefaultSelector() as sel:
            sel.register(self.proc.stdout, selectors.EVENT_READ)
            if not sel.select(timeout):
                self.stop()
                raise HarnessError("klpsim did not report its terminal")
        line = self.proc.stdout.readline().strip()
        if not line.startswith("/dev/"):
            self.stop()
            raise HarnessError(f"klpsim did not start: {line!r}")
        return line

    def captured(self):
        """Every byte the unit has received so far."""
        with open(self.capture_path, "rb") as f:
            return f.read()

    def wait_captured(self, count, timeout):
        return wait_until(lambda: len(self.captured()) >= count and self.captured(), timeout,
                          f"{count} bytes at the unit")

    def frames(self, direction, kind=None):
        """Frames the unit reported: direction 'tx' or 'rx', kind as klpsim names it."""
        frames = []
        with open(self.log_path) as f:
            for line in f:
                m = re.match(r"(tx|rx) ([a-z-]+): ?([0-9A-F ]*)$", line.strip())
                if m and m.group(1) == direction and (kind is None or m.group(2) == kind):
                    frames.append(bytes.fromhex(m.group(3)))
        return frames

    def holders(self):
        """Processes other than the unit that hold its terminal open."""
        return [pid for pid in processes_holding(self.path) if pid != self.proc.pid]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(timeout=10)
        self.log.close()


def processes_holding(device):
    """Pids of the processes with a descriptor open on device."""
    real = os.path.realpath(device)
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        fd_dir = f"/proc/{pid}/fd"
        try:
            if any(os.readlink(os.path.join(fd_dir, fd)) == real for fd in os.listdir(fd_dir)):
                pids.append(int(pid))
        except OSError:
            continue
    return pids


class ModemLog:
    """The RTS and DTR changes the modem-control shim recorded: (ms, device, line, value)."""

    def __init__(self, path):
        self.path = path

    def events(self, device=None):
        if not os.path.exists(self.path):
            return []
        events = []
        with open(self.path) as f:
            for line in f:
                parts = line.split()
                if len(parts) == 4 and (device is None or parts[1] == device):
                    events.append((int(parts[0]), parts[1], parts[2], int(parts[3])))
        return events

    def levels(self, device):
        """The lines' last recorded levels: {'RTS': v, 'DTR': v}."""
        return {line: value for _, _, line, value in self.events(device)}

    def changes(self, device):
        """The changes as 'RTS1', 'DTR0', ... in order."""
        return [f"{line}{value}" for _, _, line, value in self.events(device)]


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
        self.units = []
        self.program = None
        self.program_dir = os.path.join(self.root, "bin")  # no manual beside the program
        self.modem = ModemLog(os.path.join(self.root, "modem.log"))
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
        for unit in self.units:
            unit.stop()
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._keep_records()
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
        shutil.rmtree(self.root, ignore_errors=True)

    def _keep_records(self):
        """Keeps the units' logs and captures and the modem record beside the screenshots."""
        for name in os.listdir(self.root):
            if name.endswith((".log", ".capture")):
                shutil.copy2(os.path.join(self.root, name), self.shots)

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
        os.symlink(device, link)

    def remove_com(self, number):
        """Leaves no COMn. Without a link, or with a dangling one, Wine falls back to
        /dev/ttyS<n-1>, which may exist; so the link points at a socket, which cannot be
        opened as a device and counts as no port at all."""
        path = os.path.join(self.root, f"no-com{number}")
        if not os.path.exists(path):
            with socket.socket(socket.AF_UNIX) as sock:
                sock.bind(path)
        self.map_com(number, path)

    def refuse_com(self, number):
        """Makes COMn refuse to open with "access denied", which is what a port held by another
        program answers on Windows (Wine does not make a second open of a device fail, and root
        passes every exclusive-use lock): the port's link points at a folder."""
        folder = os.path.join(self.root, f"held-com{number}")
        os.makedirs(folder, exist_ok=True)
        self.map_com(number, folder)

    def wine(self, args, timeout=60):
        return subprocess.run(["wine"] + args, env=self.env, cwd=self.dir, timeout=timeout,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    def add_unit(self, *args, com=1, name=None):
        """Starts a virtual unit with klpsim's options and makes it COMn (None: no port)."""
        unit = Unit(self, args, name or f"unit{len(self.units) + 1}")
        self.units.append(unit)
        if com:
            self.map_com(com, unit.path)
        return unit

    # --- the program ----------------------------------------------------------------------

    def start_program(self, extra_env=None, wait=True, program=None):
        """Starts a copy of the program (in a directory of its own, without the manual) with the
        modem-control shim preloaded and its RTS/DTR record in self.modem; waits for the sheet.
        With program, runs that executable where it lies instead, beside whatever lies there."""
        env = dict(self.env)
        shim = os.environ.get("KLP_PTYSHIM")
        if shim:
            env["LD_PRELOAD"] = shim
        env["KLP_MODEM_LOG"] = self.modem.path
        env.update(extra_env or {})
        if program:
            program = os.path.abspath(program)
            self.program_dir = os.path.dirname(program)
        else:
            os.makedirs(self.program_dir, exist_ok=True)
            program = os.path.join(self.program_dir, os.path.basename(env_path("KLP_PROGRAM")))
            shutil.copy2(env_path("KLP_PROGRAM"), program)
        self.program = subprocess.Popen(
            ["wine", program], env=env, cwd=self.dir,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)
        if wait:
            self.driver()("wait-sheet")
            # On the clock of the modem record (CLOCK_MONOTONIC), in milliseconds.
            self.sheet_seen_ms = time.monotonic() * 1000
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
