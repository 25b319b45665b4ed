#!/usr/bin/env python3
"""Checks of what the package ships, one mode each:

    check_release.py output whole|start EXPECTED PROGRAM ARG...
        PROGRAM, run with no display, exits with 0, writes nothing on stderr and prints
        the line EXPECTED on stdout (start: output that starts with EXPECTED).
    check_release.py manpage PAGE NAME VERSION
        PAGE renders without a groff warning as man and lintian render it, at 80 and 120
        columns, has NAME (with a whatis line that is not help2man's placeholder), SYNOPSIS
        and DESCRIPTION, and names NAME VERSION.
    check_release.py records VERSION CHANGELOG METAINFO
        The newest changelog entry and the newest AppStream release are VERSION.
    check_release.py package CPACK_CONFIG WORK_DIR
        Builds the .deb into WORK_DIR and fails on any lintian error or warning.
"""

import os
import pathlib
import re
import subprocess
import sys


def run(command, env=None):
    return subprocess.run(command, env=env, capture_output=True, text=True, encoding="utf-8",
                          errors="replace")


def check_output(args):
    match, expected, command = args[0], args[1], args[2:]
    prefix = match == "start"
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    result = run(command, env)
    problems = []
    if result.returncode != 0:
        problems.append(f"exit status {result.returncode}")
    if result.stderr:
        problems.append(f"stderr: {result.stderr!r}")
    matches = result.stdout.startswith(expected) if prefix else result.stdout == expected + "\n"
    if not matches:
        problems.append(f"stdout {result.stdout[:200]!r}, expected {'a start of ' if prefix else ''}{expected!r}")
    return problems


def check_manpage(args):
    page, name, version = args
    problems = []
    for width in ("80", "120"):
        env = {"PATH": os.environ["PATH"], "LC_ALL": "C.UTF-8", "MANROFFSEQ": "", "MANWIDTH": width}
        result = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", page], env)
        warnings = [line for line in result.stderr.splitlines() if line.strip()]
        if result.returncode != 0 or warnings:
            problems.append(f"at {width} columns: status {result.returncode}, {warnings}")
    text = run(["man", "-E", "UTF-8", "-l", page],
               {"PATH": os.environ["PATH"], "LC_ALL": "C.UTF-8", "MANWIDTH": "80"}).stdout
    text = text.replace("\u2010", "-").replace("\u2212", "-")   # groff's hyphen and minus
    for section in ("NAME", "SYNOPSIS", "DESCRIPTION"):
        if not re.search(rf"^{section}$", text, re.MULTILINE):
            problems.append(f"no {section} section")
    if not re.search(rf"^NAME\n\s+{re.escape(name)}\s+-\s+\S", text, re.MULTILINE):
        problems.append(f"NAME does not read '{name} - ...'")
    if f"{name} {version}" not in text:
        problems.append(f"'{name} {version}' is not on the page")
    whatis = run(["lexgrog", page], {"PATH": os.environ["PATH"], "LC_ALL": "C.UTF-8"})
    if whatis.returncode != 0 or "manual page for" in whatis.stdout:
        problems.append(f"whatis entry: {whatis.stdout.strip()!r} (status {whatis.returncode})")
    return problems


def check_records(args):
    version, changelog, metainfo = args
    problems = []
    entry = re.match(r"tarnwell \(([^)]+)\)", pathlib.Path(changelog).read_text(encoding="utf-8"))
    if not entry or entry.group(1) != version:
        problems.append(f"{changelog}: the newest entry is {entry and entry.group(1)!r}, not {version!r}")
    release = re.search(r'<release\s+version="([^"]+)"', pathlib.Path(metainfo).read_text(encoding="utf-8"))
    if not release or release.group(1) != version:
        problems.append(f"{metainfo}: the newest release is {release and release.group(1)!r}, not {version!r}")
    return problems


def check_package(args):
    config, work = args
    for old in pathlib.Path(work).glob("*.deb"):
        old.unlink()
    built = run(["cpack", "-G", "DEB", "--config", config, "-B", work])
    debs = sorted(pathlib.Path(work).glob("*.deb"))
    if built.returncode != 0 or len(debs) != 1:
        return [f"cpack: status {built.returncode}, {len(debs)} packages\n{built.stdout}{built.stderr}"]
    lint = run(["lintian", "--fail-on", "error,warning", str(debs[0])])
    print(lint.stdout, end="")
    return [f"lintian: status {lint.returncode}"] if lint.returncode != 0 else []


def main():
    modes = {"output": check_output, "manpage": check_manpage, "records": check_records,
             "package": check_package}
    if len(sys.argv) < 2 or sys.argv[1] not in modes:
        print(__doc__, file=sys.stderr)
        return 2
    problems = modes[sys.argv[1]](sys.argv[2:])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
