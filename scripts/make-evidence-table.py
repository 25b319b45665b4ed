#!/usr/bin/python3
"""Measures the evidence figures that the findings' thresholds are fitted on.

Recorded-style speech (espeak-ng prompts at 8000 samples/s) goes through the eight G.168
hybrid models that libspandsp-dev tabulates, at several ERLs and bulk delays, plus the faults
the findings must name: no echo (independent speech of the same speaker at -30 dBm0), swapped
files, two echoes, a jump of 80 samples halfway, a 100 ppm drift, 50 Hz hum, a soft-clipped
echo. Each capture pair runs through tarnwell-cli --json; one row per capture is printed.

Needs espeak-ng, sox and python3-numpy (Debian's python3). Usage:
    scripts/make-evidence-table.py build/cli/tarnwell-cli [--work DIR] [--seconds S] [--nonlinear]

--nonlinear prints the non-linear echo measure's table instead: the G.168 captures, softly
clipped echoes and Tx, and linear paths that a fit can mistake (noise, drift, double talk, an
echo beside the window, DC, mu-law, hum).
"""
import argparse
import json
import pathlib
import re
import subprocess
import sys

import numpy as np

RATE = 8000
MODELS = "/usr/include/spandsp/g168models.h"
FULL_SCALE_RMS = 16016.0  # rms of a 0 dBm0 signal in 16-bit samples
PROMPTS = [
    "The quick brown fox jumps over the lazy dog while the operator checks the line.",
    "Please hold the line, your call is important to us and will be answered shortly.",
    "Seven hundred and forty two units were shipped to the northern depot on Tuesday.",
    "We measured the echo return loss on every port of the gateway before noon.",
    "If you know the extension of the person you are calling, dial it now.",
    "Bright morning light fell across the harbour as the ferries left one by one.",
]
OTHER = [
    "Nobody answered the phone at the library, so she wrote a letter instead.",
    "Heavy rain is expected along the coast tonight with strong winds after midnight.",
    "The committee will publish its final report at the end of next month.",
    "A cup of tea and a slice of toast was all he wanted before the meeting.",
    "Turn left at the second roundabout and follow the signs to the station.",
    "Every Friday the market opens early and closes late in the summer months.",
]


def models():
    text = pathlib.Path(MODELS).read_text()
    out = {}
    for m in re.finditer(r"line_model_(d\d)_coeffs\[\]\s*=\s*\{([^}]*)\}", text):
        out[m.group(1)] = np.array([float(v) for v in m.group(2).replace("\n", " ").split(",") if v.strip()])
    return out


def speech(work, prompts, seconds, name, pause=RATE // 3):
    """espeak-ng prompts, resampled to 8 kHz, with short pauses, cut or looped to length."""
    parts = []
    for i, prompt in enumerate(prompts):
        wav = work / f"{name}{i}.wav"
        raw = work / f"{name}{i}.raw"
        if not raw.exists():
            subprocess.run(["espeak-ng", "-v", "en-us", "-s", "150", "-w", str(wav), prompt], check=True)
            subprocess.run(["sox", str(wav), "-r", str(RATE), "-b", "16", "-e", "signed", "-c", "1",
                            "-t", "raw", str(raw)], check=True)
        parts.append(np.fromfile(raw, dtype="<i2").astype(float))
        parts.append(np.zeros(pause))
    x = np.concatenate(parts)
    n = int(seconds * RATE)
    while len(x) < n:
        x = np.concatenate([x, x])
    return x[:n]


def at_level(x, dbm0):
    """x scaled so that its active stretches (above 1 % of its peak) sit at dbm0."""
    active = np.abs(x) > 0.01 * np.max(np.abs(x))
    rms = np.sqrt(np.mean(x[active] ** 2))
    return x * (FULL_SCALE_RMS * 10 ** (dbm0 / 20) / rms)


def echo_of(tx, h, bulk, erl_db):
    e = np.convolve(tx, h)[: len(tx)]
    e = np.concatenate([np.zeros(bulk), e])[: len(tx)]
    gain = np.sqrt(np.mean(tx ** 2) / np.mean(e ** 2) * 10 ** (-erl_db / 10))
    return e * gain


def shaped_echo(e, centre, gain_db):
    """e through a one-third-octave-wide bell of gain_db at centre Hz (applied on its spectrum)."""
    f = np.fft.rfftfreq(len(e), 1.0 / RATE)
    octaves = np.log2(np.maximum(f, 1.0) / centre)
    g = 10 ** (gain_db / 20 * np.exp(-0.5 * (octaves / (1.0 / 6.0)) ** 2))
    return np.fft.irfft(np.fft.rfft(e) * g, len(e))


def mulaw(x):
    """x coded to 8-bit G.711 mu-law and back (the continuous law, quantised to 8 bits)."""
    mu = 255.0
    y = np.sign(x) * np.log1p(mu * np.minimum(np.abs(x) / 32768.0, 1.0)) / np.log1p(mu)
    q = np.round(y * 127.0) / 127.0
    return np.sign(q) * np.expm1(np.abs(q) * np.log1p(mu)) / mu * 32768.0


def noise(n, dbm0, seed):
    return np.random.default_rng(seed).normal(0.0, FULL_SCALE_RMS * 10 ** (dbm0 / 20), n)


def write(path, x):
    np.clip(np.round(x), -32768, 32767).astype("<i2").tofile(path)


def run(cli, work, name, tx, rx, bulk, extra=()):
    write(work / f"{name}.tx.pcm", tx)
    write(work / f"{name}.rx.pcm", rx)
    cmd = [cli, "--tx", str(work / f"{name}.tx.pcm"), "--rx", str(work / f"{name}.rx.pcm"),
           "--out", "/dev/null", "--json", "--device", "2", "--delay", str(bulk), "--tail", "128", *extra]
    p = subprocess.run(cmd, capture_output=True, text=True)
    return json.loads(p.stdout)


def spread(residual):
    """Mean |residual| with the farthest left out, as the delay trend reads its fits."""
    return (sum(residual) - max(residual)) / (len(residual) - 1)


def trend_fits(times, lags):
    """How far the track lies from its best line and its best single step, samples."""
    if len(lags) < 4:
        return float("nan"), float("nan")
    t = np.array(times)
    y = np.array(lags)
    slope, offset = np.polyfit(t, y, 1)
    line = spread(list(np.abs(y - (slope * t + offset))))
    best = None
    for k in range(2, len(y) - 1):
        r = np.abs(y - np.where(np.arange(len(y)) < k, np.median(y[:k]), np.median(y[k:])))
        if best is None or r.sum() < best[0]:
            best = (r.sum(), spread(list(r)))
    return line, best[1]


def cancellation_by_level(frames):
    """Mean cancellation of the loudest and the quietest third of the counted frames in the pass's
    second half (by Tx level), as the non-linear echo finding reads them."""
    c = frames["cancellation"]
    counted = frames["counted"]
    level = frames["txLevel"]
    half = len(c) // 2
    pairs = sorted(((float(level[i]), float(c[i])) for i in range(half, len(c)) if counted[i]),
                   key=lambda p: p[0])
    third = len(pairs) // 3
    if third == 0:
        return float("nan"), float("nan"), len(pairs)
    quiet = sum(p[1] for p in pairs[:third]) / third
    loud = sum(p[1] for p in pairs[len(pairs) - third:]) / third
    return loud, quiet, len(pairs)


def spectrum_row(name, data):
    """The echo path by frequency, hum and non-linearity figures of one capture."""
    a = data["analysis"]
    e = a["echoPathSpectrum"]
    hum = a["hum"]
    codes = ",".join(f["code"] + ("" if f["severity"] == "warning" else " (i)") for f in a["findings"]
                     if f["code"] in ("erl-band", "hum", "nonlinear-echo"))
    if e["measured"]:
        worst = min(range(len(e["bandErl"])), key=lambda i: e["bandErl"][i] - 0.0)
        below = e["bandErl"][worst]
        dip = e["erl"] - below
        coh = e["bandCoherence"][worst]
        bound = e["coherentCancellation"]
        band = f"{e['bandCentres'][worst]:.0f}"
    else:
        below = dip = coh = bound = float("nan")
        band = "-"
    loud, quiet, frames = cancellation_by_level(a["frames"])
    print(f"| {name} | {data['results']['erl']:.2f} | {e['erl'] if e['measured'] else float('nan'):.2f} | "
          f"{band} | {below:.2f} | {dip:.2f} | {coh:.3f} | {bound:.1f} | {loud:.1f} | {quiet:.1f} | "
          f"{loud - quiet:.1f} ({frames}) | {hum['txMains']} {hum['txRise']:.1f} / {hum['txFundamental']:.1f} | "
          f"{hum['rxMains']} {hum['rxRise']:.1f} / {hum['rxFundamental']:.1f} | "
          f"{codes or '-'} |", file=SPECTRUM)
    SPECTRUM.flush()


SPECTRUM = sys.stderr


def row(name, truth, data):
    spectrum_row(name, data)
    a = data["analysis"]
    w = a["whitenedDelay"]
    track = a["delayTrack"]
    codes = ",".join(f["code"] + ("" if f["severity"] == "warning" else " (i)") for f in a["findings"])
    ratio_median = w["peak"] / w["median"] if w["median"] > 0 else float("inf")
    ratio_next = w["peak"] / w["next"] if w["next"] > 0 else float("inf")
    far = w["far"] / w["peak"] if w["peak"] > 0 else 0.0
    all_blocks = a.get("allBlocksErl", {})
    erl = all_blocks.get("erl", float("nan"))
    quiet = all_blocks.get("txQuietBlocks", 0)
    near = all_blocks.get("nearEndBlocks", 0) / quiet if quiet else float("nan")
    lags = [lag for lag, r in zip(track["lag"], track["peakToMedian"]) if r >= 16.0]
    moved = max(lags) - min(lags) if lags else float("nan")
    times = [t for t, r in zip(track["time"], track["peakToMedian"]) if r >= 16.0]
    line_fit, step_fit = trend_fits(times, lags)
    print(f"| {name} | {truth} | {data['results']['delay']} | {w['peakLag']} | {w['peak']:.3f} | "
          f"{ratio_next:.2f} | {ratio_median:.0f} | {far:.2f} | {len(lags)} | {moved:.1f} | {line_fit:.2f} | {step_fit:.2f} | "
          f"{data['results']['erl']:.2f} | {erl:.2f} | {near:.2f} | {codes or '-'} |")
    for f in a["findings"]:
        if f["code"].startswith("delay-") or f["code"] in ("no-echo", "swapped"):
            print(f"<!-- {f['code']}: {f['text']} -->", file=sys.stderr)
    sys.stdout.flush()


def nonlinear_row(cli, work, name, tx, rx, bulk=100):
    data = run(cli, work, "cap", tx, rx, bulk)
    ne = data["analysis"]["nonlinearEcho"]
    codes = ",".join(f["code"] for f in data["analysis"]["findings"] if f["severity"] == "warning")
    if not ne["measured"]:
        print(f"| {name} | - | - | - | {codes or '-'} |")
    else:
        c, se, share = ne["compression"], ne["standardError"], ne["linearShare"]
        print(f"| {name} | {c:.2f} | {share:.1f} | {c / se:.1f} | {codes or '-'} |")
    sys.stdout.flush()


def nonlinear_table(cli, work, n, tx, other, line, h):
    print("| capture | compression dB | linear share dB | z | warnings |")
    print("|---" * 5 + "|")
    for model in sorted(h):
        for erl in (6, 10, 20):
            for bulk in (0, 100, 300, 1200):
                nonlinear_row(cli, work, f"{model} ERL {erl} bulk {bulk}", tx, echo_of(tx, h[model], bulk, erl) + line, bulk)
    def drifted(x, ppm):
        return np.interp(np.arange(n) * (1.0 - ppm * 1e-6), np.arange(n), x)
    for scale, erl in ((4000, 3), (6000, 3), (8000, 6), (12000, 3), (16000, 3)):
        nonlinear_row(cli, work, f"echo clipped tanh {scale} (D.2, ERL {erl} before)", tx,
                      scale * np.tanh(echo_of(tx, h["d2"], 100, erl) / scale) * 10 ** (-7 / 20) + line)
    for model in ("d4", "d5", "d8", "d9"):
        nonlinear_row(cli, work, f"echo clipped tanh 6000 ({model.upper()})", tx,
                      6000 * np.tanh(echo_of(tx, h[model], 100, 3) / 6000) * 10 ** (-7 / 20) + line)
    for scale in (6000, 10000, 16000):
        clipped = scale * np.tanh(tx / scale)
        for model in ("d2", "d5"):
            echo = echo_of(clipped, h[model], 100, 10) * np.sqrt(np.mean(tx ** 2) / np.mean(clipped ** 2))
            nonlinear_row(cli, work, f"Tx clipped tanh {scale} before {model.upper()}", tx, echo + line)
    for model in sorted(h):
        clean = echo_of(tx, h[model], 100, 10) + line
        for erl, floor in ((10, -40), (20, -50), (15, -45), (20, -55), (6, -45)):
            nonlinear_row(cli, work, f"{model.upper()} ERL {erl}, line {floor} dBm0", tx,
                          echo_of(tx, h[model], 100, erl) + noise(n, floor, 5))
        for bulk in (40, 60, 150):
            nonlinear_row(cli, work, f"{model.upper()} echo at {bulk}, window at 100", tx,
                          echo_of(tx, h[model], bulk, 10) + line)
        for ppm in (10, 12, 15, 20, 25, 30, 50):
            nonlinear_row(cli, work, f"{model.upper()} drift {ppm} ppm", tx, drifted(clean, ppm))
        for level in (-40, -35, -30, -25):
            nonlinear_row(cli, work, f"{model.upper()} near speech {level} dBm0", tx, clean + other * 10 ** ((level + 30) / 20))
    clean = echo_of(tx, h["d2"], 100, 10) + line
    for label, t, r in (("DC 800 in Tx", tx + 800, clean), ("DC 800 in Rx", tx, clean + 800),
                        ("mu-law in the path", tx, mulaw(echo_of(tx, h["d2"], 100, 10)) + line),
                        ("no echo", tx, other + line)):
        nonlinear_row(cli, work, label, t, r)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("--work", default="/tmp/tarnwell-evidence-table")
    ap.add_argument("--seconds", type=float, default=15.0)
    ap.add_argument("--nonlinear", action="store_true")
    args = ap.parse_args()
    work = pathlib.Path(args.work)
    work.mkdir(parents=True, exist_ok=True)
    n = int(args.seconds * RATE)
    tx = at_level(speech(work, PROMPTS, args.seconds, "far"), -17.0)
    other = at_level(speech(work, OTHER, args.seconds, "near"), -30.0)
    line = noise(n, -62.0, 1)
    h = models()
    if args.nonlinear:
        nonlinear_table(args.cli, work, n, tx, other, line, h)
        return
    print("| capture | true delay | seed delay | whitened lag | peak | peak/next | peak/median | far/peak "
          "| track points | track range | line fit | step fit | seed ERL | all-blocks ERL | near end alone "
          "| findings ((i): info) |")
    print("|---" * 16 + "|")
    print("| capture | seed ERL | spectrum ERL | worst band | its ERL | broadband - it | its coherence "
          "| coherent cancellation | loud third | quiet third | loud - quiet (frames) | Tx hum (Hz, lines / fundamental dB) | Rx hum "
          "| findings |", file=SPECTRUM)
    print("|---" * 14 + "|", file=SPECTRUM)
    for model in sorted(h):
        peak_tap = int(np.argmax(np.abs(h[model])))
        for erl in (6, 10, 20):
            for bulk in (0, 100, 300, 1200):
                rx = echo_of(tx, h[model], bulk, erl) + line
                row(f"{model} ERL {erl} bulk {bulk}", f"{bulk + peak_tap} / {erl}",
                    run(args.cli, work, "cap", tx, rx, bulk))
    shipped = pathlib.Path(__file__).resolve().parent.parent / "samples"
    tx_s = np.fromfile(shipped / "tx.pcm", dtype="<i2").astype(float)
    rx_s = np.fromfile(shipped / "rx.pcm", dtype="<i2").astype(float)
    row("shipped samples", "106 / 12", run(args.cli, work, "cap", tx_s, rx_s, 100))
    d2 = h["d2"]
    clean = echo_of(tx, d2, 100, 10) + line
    row("no echo (independent speech -30 dBm0)", "none", run(args.cli, work, "cap", tx, other + line, 100))
    row("independent noise -30 dBm0", "none", run(args.cli, work, "cap", tx, noise(n, -30.0, 2), 100))
    row("swapped (D.2 bulk 100)", "-106", run(args.cli, work, "cap", clean, tx, 100))
    row("two echoes (100, 700)", "106 + 706",
        run(args.cli, work, "cap", tx, clean + echo_of(tx, d2, 700, 12), 100))
    jumped = np.concatenate([clean[: n // 2], (echo_of(tx, d2, 180, 10) + line)[n // 2:]])
    row("jump 106 -> 186 halfway", "106/186", run(args.cli, work, "cap", tx, jumped, 100))
    for ppm in (100, -100, 20):
        t = np.arange(n) * (1.0 - ppm * 1e-6)
        drifted = np.interp(t, np.arange(n), clean)
        row(f"drift {ppm} ppm", f"106 -> {106 + ppm * 1e-6 * n:.0f}", run(args.cli, work, "cap", tx, drifted, 100))
    hum = sum(FULL_SCALE_RMS * 10 ** (-35 / 20) * np.sqrt(2) / k * np.sin(2 * np.pi * 50 * k * np.arange(n) / RATE)
              for k in (1, 2, 3))
    row("hum 50 Hz -35 dBm0 in Rx, high-pass off", "106", run(args.cli, work, "cap", tx, clean + hum, 100,
                                                            ["--high-pass", "off"]))
    row("hum 50 Hz -35 dBm0 in Rx, high-pass on", "106", run(args.cli, work, "cap", tx, clean + hum, 100))
    soft = 6000.0 * np.tanh(echo_of(tx, d2, 100, 3) / 6000.0)
    row("soft-clipped echo (D.2)", "106", run(args.cli, work, "cap", tx, soft * 10 ** (-7 / 20) + line, 100))
    row("double talk (D.2 + near speech -20 dBm0)", "106",
        run(args.cli, work, "cap", tx, clean + other * 10 ** (10 / 20), 100))
    for label, centre, gain_db in (("peak +12 dB at 500 Hz", 500, 12), ("notch -20 dB at 1 kHz", 1000, -20),
                                   ("peak +10 dB at 2 kHz", 2000, 10), ("peak +20 dB at 2.5 kHz", 2500, 20)):
        shaped = shaped_echo(echo_of(tx, d2, 100, 12), centre, gain_db)
        row(f"D.2 ERL 12, {label}", "106", run(args.cli, work, "cap", tx, shaped + line, 100))
    for mains in (50, 60):
        hum_m = sum(FULL_SCALE_RMS * 10 ** (-40 / 20) * np.sqrt(2) / k * np.sin(2 * np.pi * mains * k * np.arange(n) / RATE)
                    for k in (1, 2, 3))
        row(f"hum {mains} Hz -40 dBm0 in Tx and Rx", "106", run(args.cli, work, "cap", tx + hum_m, clean + hum_m, 100))
    hum3 = FULL_SCALE_RMS * 10 ** (-40 / 20) * np.sqrt(2) * np.sin(2 * np.pi * 150 * np.arange(n) / RATE)
    row("hum 150 Hz alone -40 dBm0 in Rx", "106", run(args.cli, work, "cap", tx, clean + hum3, 100))
    for scale, erl in ((6000.0, 3), (4000.0, 3), (8000.0, 6)):
        soft_s = scale * np.tanh(echo_of(tx, d2, 100, erl) / scale)
        row(f"soft-clipped echo tanh {scale:.0f} (D.2, ERL {erl} before)", "106",
            run(args.cli, work, "cap", tx, soft_s * 10 ** (-7 / 20) + line, 100))
    for model in ("d4", "d8"):
        soft_m = 6000.0 * np.tanh(echo_of(tx, h[model], 100, 3) / 6000.0)
        row(f"soft-clipped echo ({model.upper()})", "~110",
            run(args.cli, work, "cap", tx, soft_m * 10 ** (-7 / 20) + line, 100))
    row("G.711 mu-law in the echo path (D.2, ERL 10)", "106",
        run(args.cli, work, "cap", tx, mulaw(echo_of(tx, d2, 100, 10)) + line, 100))
    talking = at_level(speech(work, OTHER, args.seconds, "near", pause=0), -20.0)
    row("near speech throughout, no pauses (D.2 + -20 dBm0)", "106 / 10",
        run(args.cli, work, "cap", tx, clean + talking, 100))
    for model in ("d3", "d5", "d9"):
        echo = echo_of(tx, h[model], 100, 10) + line
        row(f"{model} ERL 10 + near speech -20 dBm0", "- / 10", run(args.cli, work, "cap", tx, echo + other * 10 ** (10 / 20), 100))


if __name__ == "__main__":
    main()
