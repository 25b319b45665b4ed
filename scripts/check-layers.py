#!/usr/bin/env python3
"""Fails when a source file includes a header from a layer above its own, or when a Qt-free
layer includes Qt.

    scripts/check-layers.py [--root DIR] [--pretend FILE HEADER]

--pretend adds one include line to FILE before checking, so that a test can see the check
fail on a planted upward include.
"""

import argparse
import pathlib
import re
import sys

# Each layer and the layers it may include, lowest first. A file's layer is the first pattern
# that matches its path.
LAYERS = [
    ("canceller", ["canceller/*", "engine/DspToolkit.*", "engine/LevelKernel.*"], []),
    ("engine", ["engine/*"], ["canceller"]),
    ("report", ["ui/Report.*", "ui/VerdictRules.*", "ui/RunRequest.h"], ["canceller", "engine"]),
    ("evidence", ["evidence/*"], ["canceller", "engine", "report"]),
    ("charts", ["charts/*"], ["canceller", "engine", "report", "evidence"]),
    ("cli", ["cli/*"], ["canceller", "engine", "report", "evidence"]),
    ("window", ["ui/*"], ["canceller", "engine", "report", "evidence", "charts"]),
    ("app", ["app/*"], ["canceller", "engine", "report", "evidence", "charts", "window"]),
]
# Known crossings, each with the reason it is allowed for now.
EXCEPTIONS = set()
QT_FREE = {"canceller", "engine", "report", "evidence", "cli"}
SOURCES = ("*.cpp", "*.h")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def layer_of(path):
    for name, patterns, _ in LAYERS:
        if any(pathlib.PurePath(path).match(p) and len(pathlib.PurePath(path).parts) == 2 for p in patterns):
            return name
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", default=pathlib.Path(__file__).resolve().parent.parent, type=pathlib.Path)
    parser.add_argument("--pretend", nargs=2, metavar=("FILE", "HEADER"))
    args = parser.parse_args()

    allowed = {name: set(below) | {name} for name, _, below in LAYERS}
    problems = []
    checked = 0
    for folder in ("canceller", "engine", "ui", "evidence", "charts", "cli", "app"):
        for pattern in SOURCES:
            for file in sorted((args.root / folder).glob(pattern)):
                rel = file.relative_to(args.root).as_posix()
                own = layer_of(rel)
                lines = file.read_text(encoding="utf-8", errors="replace").splitlines()
                if args.pretend and args.pretend[0] == rel:
                    lines.append(f'#include "{args.pretend[1]}"')
                checked += 1
                for number, line in enumerate(lines, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    header = m.group(2)
                    if m.group(1) == "<":
                        if own in QT_FREE and re.match(r"Q[A-Za-z]*(/|$)", header):
                            problems.append(f"{rel}:{number}: the {own} layer is Qt-free but includes <{header}>")
                        continue
                    target = layer_of(header)
                    if target is not None and target not in allowed[own] and (rel, header) not in EXCEPTIONS:
                        problems.append(f"{rel}:{number}: the {own} layer may not include {header} ({target})")
    for p in problems:
        print(p)
    print(f"{checked} files checked, {len(problems)} includes against the layers")
    return 1 if problems or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
