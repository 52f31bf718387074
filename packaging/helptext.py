"""Reads a program's own --help (CLI11's layout) for the manual page and the completion, so
that neither can say other than the program does."""
import re
import subprocess

# "  -p,--port PORT REQUIRED   text", "  --polls   text", "  file FILE REQUIRED   text"; a long
# first column puts the text on the next line.
_ENTRY = re.compile(r"^ {1,4}(\S+)((?: \S+)*?)(?: {2,}\S.*)?$")
_HEADING = re.compile(r"^(\S[^:]*):\s*$")


def run_help(program, *args):
    """The program's help text for ARGS (e.g. a command name), which it must give with exit 0."""
    return subprocess.run([program, *args, "--help"], check=True, capture_output=True,
                          text=True).stdout


def sections(text):
    """{heading: [lines]} for every block under a line such as "Options:" (the heading in
    lower case: CLI11's versions spell them differently)."""
    out, current = {}, None
    for line in text.splitlines():
        heading = _HEADING.match(line)
        if heading:
            current = out.setdefault(heading.group(1).lower(), [])
        elif not line.strip():
            current = None
        elif current is not None:
            current.append(line)
    return out


def entries(lines):
    """(first column, its value words) for each entry of a block; continuation lines skipped."""
    for line in lines:
        m = _ENTRY.match(line)
        if m and not line.startswith(" " * 5):
            yield m.group(1), m.group(2).split()


def commands(text):
    """The command names listed in the top-level help."""
    block = sections(text)
    lines = block.get("subcommands") or block.get("commands") or []
    return [name for name, _ in entries(lines) if re.fullmatch(r"[a-z][a-z0-9-]*", name)]


def options(text):
    """[(names, value)] for each option: value is None for a flag, else its type name and any
    listed choices, e.g. ("RATE", ["1200", ...])."""
    out = []
    for lines in sections(text).values():
        for first, words in entries(lines):
            if not first.startswith("-"):
                continue
            names = [n for n in first.split(",") if n.startswith("-")]
            value = None
            if words and words[0] != "REQUIRED":
                kind = re.match(r"[^:=]*", words[0]).group(0)
                choices = re.search(r"\{([^}]*)\}", words[0])
                value = (kind, choices.group(1).split(",") if choices else [])
            out.append((names, value))
    return out


def positionals(text):
    """The value name of each positional argument in order ("A.klp B.klp" is two), and whether
    the last one repeats ("FIELD=VALUE ...")."""
    kinds, repeats = [], False
    for name, words in entries(sections(text).get("positionals", [])):
        names = [name] + words
        repeats = names[-1] == "..."
        kinds += [n for n in names if n != "..."]
    return kinds, repeats
