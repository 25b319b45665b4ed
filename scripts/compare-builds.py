#!/usr/bin/env python3
"""Runs two tarnwell-cli builds over the same varied captures and settings and compares
their JSON and output files byte for byte.

    scripts/compare-builds.py OLD_CLI NEW_CLI [--work DIR] [--extra-new ARG ...]

The captures are made here from fixed seeds (Python standard library only), so both builds
see the same bytes: the shipped samples, echoes at several delays and losses, no echo,
swapped files, an ERL gate, too short, too little Tx activity, full-scale square waves, a
clipped Rx and odd lengths. Exits 1 on the first difference it finds, after printing it.
"""

import argparse
import array
import hashlib
import json
import math
import pathlib
import random
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent


def clamp(v):
    r = int(round(v))
    return max(-32768, min(32767, r))


def noise(n, rms, seed):
    g = random.Random(seed)
    scale = rms * math.sqrt(3.0)
    return [clamp(sum(g.random() - 0.5 for _ in range(4)) * scale) for _ in range(n)]


def bursts(n, rms, length, seed):
    loud = noise(n, rms, seed)
    return [s if (i // length) % 2 == 0 else 0 for i, s in enumerate(loud)]


def echo(tx, delay, loss_db, noise_rms=0.0, seed=7):
    gain = 10.0 ** (-loss_db / 20.0)
    line = noise(len(tx), noise_rms, seed) if noise_rms > 0 else [0] * len(tx)
    return [clamp((tx[i - delay] * gain if i >= delay else 0.0) + line[i]) for i in range(len(tx))]


def write(path, samples):
    a = array.array("h", samples)
    if sys.byteorder != "little":
        a.byteswap()
    path.write_bytes(a.tobytes())


def make_captures(work):
    caps = {}
    n = 80000
    tx = bursts(n, 2848, 1200, 11)
    caps["echo200"] = (tx, echo(tx, 200, 12.0, 20.0))
    caps["echo90"] = (tx, echo(tx, 90, 18.0, 10.0))
    caps["echo1300"] = (tx, echo(tx, 1300, 10.0, 10.0))
    caps["noecho"] = (tx, noise(n, 900, 99))
    caps["swapped"] = (echo(tx, 200, 12.0, 20.0), tx)
    caps["erlgate"] = (tx, echo(tx, 150, 3.0, 5.0))
    caps["short"] = (tx[:40000], echo(tx, 200, 12.0)[:40000])
    caps["odd"] = (tx[:48037], echo(tx, 120, 14.0, 8.0)[:48037])
    caps["silent"] = ([0] * n, noise(n, 500, 5))
    square = [32767 if (i // 20) % 2 == 0 else -32768 for i in range(n)]
    caps["square"] = (square, echo(square, 100, 8.0))
    clipped = echo(tx, 200, 2.0, 0.0)
    caps["clipped"] = (tx, [clamp(v * 6) for v in clipped])
    quiet = bursts(n, 400, 1200, 13)
    caps["quiet"] = (quiet, echo(quiet, 160, 12.0, 5.0))
    paths = {}
    for name, (t, r) in caps.items():
        tp, rp = work / f"{name}_tx.pcm", work / f"{name}_rx.pcm"
        write(tp, t)
        write(rp, r)
        paths[name] = (tp, rp)
    paths["samples"] = (ROOT / "samples/tx.pcm", ROOT / "samples/rx.pcm")
    return paths


SETTINGS = [
    [],
    ["--tail", "0"],
    ["--tail", "1"],
    ["--tail", "17"],
    ["--tail", "64", "--delay", "0"],
    ["--tail", "1023", "--delay", "8000"],
    ["--tail", "1024", "--delay", "100"],
    ["--high-pass", "off", "--tail", "128"],
    ["--nlp-diff", "0", "--nlp-shift", "0"],
    ["--nlp-diff", "100", "--nlp-shift", "10", "--tail", "256", "--delay", "50"],
    ["--device", "7"],
    ["--device", "9", "--high-pass", "off"],
    ["--tail", "1025"],
]


def run(cli, tx, rx, out, extra):
    cmd = [str(cli), "--tx", str(tx), "--rx", str(rx), "--out", str(out), "--json"] + extra
    p = subprocess.run(cmd, capture_output=True)
    data = out.read_bytes() if out.exists() else b"<missing>"
    return p.returncode, p.stdout, hashlib.sha256(data).hexdigest(), len(data)


def restrict(new, old):
    """new cut down to the keys that old has, recursively."""
    if isinstance(new, dict) and isinstance(old, dict):
        return {k: restrict(new[k], old[k]) for k in old if k in new}
    return new


def drop(data, keys):
    """data as JSON bytes again, without the dotted keys."""
    for key in keys:
        *path, last = key.split(".")
        node = data
        for part in path:
            node = node.get(part, {}) if isinstance(node, dict) else {}
        if isinstance(node, dict):
            node.pop(last, None)
    return json.dumps(data, sort_keys=False).encode()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("old")
    ap.add_argument("new")
    ap.add_argument("--work", default="/tmp/tarnwell-compare")
    ap.add_argument("--only-old-keys", action="store_true",
                    help="compare the JSON on the old build's keys only, so that keys a new "
                         "build adds are not counted as differences")
    ap.add_argument("--ignore", action="append", default=[], metavar="KEY.PATH",
                    help="leave this JSON key out on both sides (e.g. analysis.findings, whose "
                         "words a change to the evidence is meant to change); repeatable")
    ap.add_argument("--keep-going", action="store_true",
                    help="compare every run and list each difference in one line, rather than "
                         "stopping at the first")
    args = ap.parse_args()
    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    captures = make_captures(work)
    count = 0
    different = []
    for name, (tx, rx) in captures.items():
        for extra in SETTINGS:
            out = work / "out.pcm"
            old = run(args.old, tx, rx, out, extra)
            new = run(args.new, tx, rx, out, extra)
            try:
                if args.ignore:
                    old = (old[0], drop(json.loads(old[1]), args.ignore), *old[2:])
                    new = (new[0], drop(json.loads(new[1]), args.ignore), *new[2:])
                if args.only_old_keys:
                    same_json = restrict(json.loads(new[1]), json.loads(old[1])) == json.loads(old[1])
                else:
                    same_json = old[1] == new[1]
            except json.JSONDecodeError:
                same_json = old[1] == new[1]
            if old[0] != new[0] or not same_json or old[2:] != new[2:]:
                if not args.keep_going:
                    print(f"DIFFERENT: {name} {' '.join(extra)}")
                    print("old:", old[0], old[3], old[1][:400])
                    print("new:", new[0], new[3], new[1][:400])
                    return 1
                what = [w for w, d in (("exit status", old[0] != new[0]), ("JSON", not same_json),
                                       ("output", old[2:] != new[2:])) if d]
                different.append(f"{name} {' '.join(extra)}: {', '.join(what)} (exit {old[0]} -> {new[0]})")
                continue
            count += 1
    for line in different:
        print("DIFFERENT:", line)
    print(f"{count} runs identical (exit status, JSON, output bytes), {len(different)} different")
    return 1 if different else 0


if __name__ == "__main__":
    sys.exit(main())
