"""Shared set-up of the flood benchmark and the soak: the build's programs for the end-to-end
harness, and small readers of the running program."""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import harness  # noqa: E402

BUILDS = {
    "KLP_PROGRAM": "build/windows/app/KLP_V2Orizeze.exe",
    "KLP_UIDRIVER": "build/windows/tools/uidriver/uidriver.exe",
    "KLP_SIM": "build/native/tools/klpsim/klpsim",
    "KLP_PTYSHIM": "build/native/tools/wine/libptyshim.so",
}


def prepare(out_name):
    """Points the harness at the build tree (unless the environment already does) and returns
    the folder for this run's records."""
    missing = []
    for name, relative in BUILDS.items():
        os.environ.setdefault(name, os.path.join(ROOT, relative))
        if not os.path.exists(os.environ[name]):
            missing.append(os.environ[name])
    if missing:
        sys.exit("missing: " + ", ".join(missing) + "\nbuild first: cmake --preset windows && "
                 "cmake --build --preset windows && cmake --preset native && cmake --build --preset native")
    out = os.path.join(ROOT, "build", out_name)
    os.makedirs(out, exist_ok=True)
    os.environ.setdefault("KLP_E2E_OUT", out)
    os.environ.setdefault("KLP_E2E_TEMPLATE", os.path.join(ROOT, "build", "e2e-template"))
    harness.make_template(os.environ["KLP_E2E_TEMPLATE"])
    return out


def counters(ui):
    text = ui("text 0:1004")
    try:
        polls, acks = text.split("/")
        return int(polls), int(acks)
    except ValueError:
        raise harness.HarnessError(f"the counter label reads {text!r}") from None


def log_texts(ui):
    return [line.split("\t", 1)[-1] for line in ui("text 0:1016").split("\r\n") if line]


def reopen_com1(ui):
    """Closes and reopens COM1 from the page, so a new mapping of COM1 takes effect."""
    ui("pick 0:1012 None")
    ui("wait 0:1012 is None")
    ui("pick 0:1012 COM1")
    harness.wait_until(lambda: log_texts(ui)[-1].startswith("Opened COM1"), 10, "COM1 to reopen")


def stamp():
    return time.strftime("%H:%M:%S")
