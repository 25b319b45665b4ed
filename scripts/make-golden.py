#!/usr/bin/env python3
"""Regenerates the pinned data of the golden tests in tests/golden/ (Python standard library only).

    scripts/make-golden.py [BUILD_DIR] [--runs-only]
        BUILD_DIR defaults to build; tarnwell-cli and golden_captures are built there first.
        --runs-only leaves filter-edges.json as it is.

runs.json: tarnwell-cli on the shipped samples and on the synthetic pairs that golden_captures
writes (tests/golden/GoldenCaptures.h), each with its arguments: the exit status, the plain
report's lines, the --json object less the three paths, and the output file's length and
64-bit FNV-1a.

filter-edges.json: inputs on which an output of HighPassFilter or UpperBandFilter lies on a
rounding edge, found by search, so that changing any coefficient by one in its last written
digit, up or down, changes some output. Ordinary signals cannot do this: such a change moves
the unrounded output by about 1e-10, and it takes billions of samples before one of them sits
that close to an edge. The expected outputs come from a direct form I written here, in the same
order of double operations; the script refuses to write a set that misses a coefficient.

The search takes a few minutes. Review the difference before committing it: a change in the
pinned data is a change in what the program computes.
"""

import bisect
import json
import math
import pathlib
import random
import subprocess
import sys
import tempfile
from decimal import Decimal

ROOT = pathlib.Path(__file__).resolve().parent.parent
GOLDEN = ROOT / "tests" / "golden"

# name, capture pair ("samples" or a synthetic pair of GoldenCaptures.h), arguments
RUNS = [
    ("samples", "samples", []),
    # --tail 1025 is a usage error before any run: the engine's own refusal is the window's test.
    ("echo160-device2", "echo160", ["--device", "2"]),
    ("erl-gate", "erlgate", []),
    ("tail1024-no-high-pass-odd-length", "echo700odd", ["--tail", "1024", "--delay", "0", "--high-pass", "off"]),
]

# The filters' design coefficients as written (b_0..b_M, a_0..a_M), and how to search for
# their edges: the tone of the input, the values of t tried and how near an edge counts.
# The high-pass's outputs move further when a coefficient changes, so a wider net will do.
FILTERS = {
    "highPass": (
        ["0.854861857992496", "-2.563588983649438", "2.563588983649438", "-0.854861857992496"],
        ["1.0", "-2.68972421059649", "2.420547023705505", "-0.726630448981872"],
        (150.0, 20, 1e-10)),
    "upperBand": (
        ["0.014721266990614", "-0.074262210529019", "0.204353040213579", "-0.376168880922515",
         "0.503218777352402", "-0.503218777352402", "0.376168880922515", "-0.204353040213579",
         "0.074262210529019", "-0.014721266990614"],
        ["1.0", "1.03041023171744", "3.147675939562921", "3.025047405996733", "4.027716766179966",
         "3.193204814527535", "2.450694551884117", "1.412792795944779", "0.587637057010005",
         "0.206820714434264"],
        (1790.0, 100, 1e-11)),
}


def fnv1a64(data):
    h = 0xCBF29CE484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return f"{h:016x}"


def make_runs(build, work):
    subprocess.run([str(build / "tests/golden/golden_captures"), str(work)], check=True)
    runs = []
    for name, captures, args in RUNS:
        if captures == "samples":
            tx, rx = ROOT / "samples/tx.pcm", ROOT / "samples/rx.pcm"
        else:
            tx, rx = work / f"{captures}_tx.pcm", work / f"{captures}_rx.pcm"
        out = work / "out.pcm"
        cmd = [str(build / "cli/tarnwell-cli"), "--tx", str(tx), "--rx", str(rx), "--out", str(out)] + args
        plain = subprocess.run(cmd, capture_output=True, text=True).stdout.splitlines()
        out.unlink(missing_ok=True)
        p = subprocess.run(cmd + ["--json"], capture_output=True)
        pinned = json.loads(p.stdout)
        for key in ("txPath", "rxPath", "outPath"):
            del pinned["settings"][key]
        output = None
        if out.exists():
            data = out.read_bytes()
            output = {"bytes": len(data), "fnv1a64": fnv1a64(data)}
        runs.append({"name": name, "captures": captures, "args": args, "exitStatus": p.returncode,
                     "plain": plain, "output": output, "json": pinned})
        print(f"run {name}: exit {p.returncode}", flush=True)
    return runs


def to_sample(y):
    v = y + 0.5
    if v != v:
        return 0
    if v >= 32767.0:
        return 32767
    if v <= -32768.0:
        return -32768
    return int(v)


def direct_form_1(b, a, xs, state=None):
    """Unrounded outputs and the final state; b_0 x first, then the other b terms, then the a terms."""
    order = len(b) - 1
    ins, outs = state if state else ([0.0] * order, [0.0] * order)
    ys = []
    for x in xs:
        x = float(x)
        y = b[0] * x
        for k in range(1, order + 1):
            y += b[k] * ins[k - 1]
        for k in range(1, order + 1):
            y -= a[k] * outs[k - 1]
        ys.append(y)
        ins, outs = [x] + ins[:-1], [y] + outs[:-1]
    return ys, (ins, outs)


def last_digit_changes(bs, as_):
    """(label, b, a) for every coefficient other than a_0 moved by one in its last digit, each way."""
    for kind, i, text in [("b", i, s) for i, s in enumerate(bs)] + [("a", i, s) for i, s in enumerate(as_) if i]:
        d = Decimal(text)
        unit = Decimal(1).scaleb(d.as_tuple().exponent)
        for sign in (1, -1):
            b, a = [float(s) for s in bs], [float(s) for s in as_]
            (b if kind == "b" else a)[i] = float(d + sign * unit)
            yield f"{kind}{i}{'+-'[sign < 0]}", b, a


def edge_candidates(b, a, frequency, t_values, tolerance, prefix_length=400):
    """Inputs: a seeded tone plus noise, then three chosen samples t, u, v that put the last
    output within about tolerance of a rounding edge. The last output is linear in t, u, v
    with the first three impulse response values h2, h1, h0, so for each t and u the best v
    comes from a table of h0 * v modulo 1; every hit is then checked exactly."""
    g = random.Random(1)
    prefix = [max(-32768, min(32767, round(12000 * math.sin(2 * math.pi * frequency * n / 8000)
                                            + g.randint(-4000, 4000)))) for n in range(prefix_length)]
    _, state = direct_form_1(b, a, prefix)
    h0 = b[0]
    h1 = b[1] - a[1] * h0
    h2 = b[2] - a[1] * h1 - a[2] * h0
    free = direct_form_1(b, a, [0, 0, 0], state)[0][-1]
    table = sorted(((h0 * v) % 1.0, v) for v in range(-32768, 32768))
    keys = [k for k, _ in table]
    hits = []
    for t in range(-30000, 30000, 60000 // t_values):
        base = free + 0.5 + h2 * t
        for u in range(-32768, 32768):
            target = (-(base + h1 * u)) % 1.0
            i = bisect.bisect_left(keys, target)
            for j in (i - 1, i % len(keys)):
                if abs((keys[j] - target + 0.5) % 1.0 - 0.5) < tolerance:
                    hits.append((t, u, table[j][1]))
    candidates = []
    for t, u, v in hits:
        y = direct_form_1(b, a, [t, u, v], state)[0][-1]
        edge = round(y + 0.5)
        if edge != 0 and abs(y) < 30000:
            candidates.append((abs(y + 0.5 - edge), prefix + [t, u, v]))
    return sorted(candidates)


def make_filter_edges():
    cases = []
    for name, (bs, as_, search) in FILTERS.items():
        b, a = [float(s) for s in bs], [float(s) for s in as_]
        candidates = [xs for _, xs in edge_candidates(b, a, *search)[:30]]
        changes = list(last_digit_changes(bs, as_))
        outputs = [[to_sample(y) for y in direct_form_1(b, a, xs)[0]] for xs in candidates]
        caught = [{label for label, cb, ca in changes
                   if [to_sample(y) for y in direct_form_1(cb, ca, xs)[0]] != out}
                  for xs, out in zip(candidates, outputs)]
        missing = {label for label, _, _ in changes}
        while missing and caught:
            best = max(range(len(caught)), key=lambda k: len(caught[k] & missing))
            if not caught[best] & missing:
                break
            cases.append({"filter": name, "input": candidates[best], "output": outputs[best]})
            missing -= caught[best]
        if missing:
            sys.exit(f"{name}: no input found that catches {sorted(missing)}")
        print(f"{name}: {sum(c['filter'] == name for c in cases)} inputs catch all {len(changes)} changes", flush=True)
    return cases


def main():
    args = [a for a in sys.argv[1:] if a != "--runs-only"]
    runs_only = len(args) < len(sys.argv) - 1
    build = pathlib.Path(args[0] if args else ROOT / "build").resolve()
    subprocess.run(["cmake", "--build", str(build), "--target", "tarnwell-cli", "golden_captures", "-j2"], check=True)
    with tempfile.TemporaryDirectory() as work:
        runs = make_runs(build, pathlib.Path(work))
    note = "Written by scripts/make-golden.py; do not edit by hand."
    (GOLDEN / "runs.json").write_text(json.dumps({"note": note, "runs": runs}, indent=1) + "\n")
    if runs_only:
        return 0
    edges = make_filter_edges()
    (GOLDEN / "filter-edges.json").write_text(json.dumps({"note": note, "cases": edges}) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
