#!/usr/bin/python3
"""Follows the settings finding's advice on the G.168 captures of make-evidence-table.py.

Each capture (speech through the models D.2-D.9 at ERL 6, 10 and 20 dB and bulk delay 0, 100,
300 and 1200) runs at a device row's presets; while the settings finding says "Set", the run
is repeated with the bulk delay and tail it names. One row per capture and device: the texts
met, the runs it took to reach "Keep" (or why it stopped), and the delay verdict at the end.

Usage: scripts/measure-advice.py build/cli/tarnwell-cli [--work DIR] [--devices 9,0]
"""
import argparse
import importlib.util
import json
import pathlib
import re
import subprocess


loader_info = importlib.util.spec_from_file_location(
    "evidence_table", pathlib.Path(__file__).resolve().parent / "make-evidence-table.py")
table = importlib.util.module_from_spec(loader_info)
loader_info.loader.exec_module(table)

SET = re.compile(r"^Set (?:bulk delay (\d+) and tail (\d+)|tail (\d+) with the bulk delay of (\d+))")


def run(cli, work, device, bulk, tail):
    cmd = [cli, "--tx", str(work / "adv.tx.pcm"), "--rx", str(work / "adv.rx.pcm"), "--out", "/dev/null",
           "--json", "--device", str(device)]
    if bulk is not None:
        cmd += ["--delay", str(bulk), "--tail", str(tail)]
    return json.loads(subprocess.run(cmd, capture_output=True, text=True).stdout)


def follow(cli, work, device):
    bulk = tail = None
    texts = []
    for step in range(6):
        data = run(cli, work, device, bulk, tail)
        settings = [f for f in data["analysis"]["findings"] if f["code"] == "settings"]
        if not settings:
            return texts, step + 1, "no settings finding", data
        text = settings[0]["text"]
        texts.append(text)
        m = SET.match(text)
        if not m:
            return texts, step + 1, text.split(":")[0].split(",")[0], data
        bulk, tail = (int(m.group(1)), int(m.group(2))) if m.group(1) else (int(m.group(4)), int(m.group(3)))
    return texts, 6, "no end", data


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--work", default="/tmp/tarnwell-evidence-table")
    ap.add_argument("--seconds", type=float, default=15.0)
    ap.add_argument("--devices", default="9,0")
    args = ap.parse_args()
    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    n = int(args.seconds * table.RATE)
    tx = table.at_level(table.speech(work, table.PROMPTS, args.seconds, "far"), -17.0)
    line = table.noise(n, -62.0, 1)
    h = table.models()
    print("| capture | device | runs | end | delay verdict at the end | first advice |")
    print("|---" * 6 + "|")
    for model in sorted(h):
        for erl in (6, 10, 20):
            for bulk in (0, 100, 300, 1200):
                rx = table.echo_of(tx, h[model], bulk, erl) + line
                table.write(work / "adv.tx.pcm", tx)
                table.write(work / "adv.rx.pcm", rx)
                for device in (int(d) for d in args.devices.split(",")):
                    texts, runs, end, data = follow(args.cli, work, device)
                    report = data.get("report") or {}
                    print(f"| {model} ERL {erl} bulk {bulk} | {device} | {runs} | {end} | "
                          f"{report.get('realDelay', '-')} | {texts[0] if texts else '-'} |", flush=True)


if __name__ == "__main__":
    main()
