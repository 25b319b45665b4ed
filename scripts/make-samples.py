#!/usr/bin/env python3
"""Makes the shipped sample captures samples/tx.pcm and samples/rx.pcm.

Tx is recorded far-end speech; Rx is its echo through a G.168 hybrid echo path model
(read from spandsp's g168models.h) after a bulk delay, scaled to a chosen echo return
loss, plus a little line noise and a stretch of near-end speech while the far end is
silent. Both are raw 16-bit little-endian mono PCM at 8000 samples per second.

Needs only the Python standard library and two Debian packages for its inputs:
asterisk-core-sounds-en-wav (the 8 kHz prompts) and libspandsp-dev (the echo path models).
The output is the same bytes on every run.
"""

import argparse
import array
import math
import pathlib
import random
import re
import sys
import wave

RATE = 8000
LENGTH = 76800                # 9.6 s; the engine needs more than 40000 samples

FAR_END_PROMPT = "demo-echotest.wav"
FAR_END_FROM = 0.20           # s into the prompt
FAR_END_TO = 6.90
FAR_END_AT = 0.15             # s into the capture

NEAR_END_PROMPT = "vm-intro.wav"
NEAR_END_FROM = 0.05
NEAR_END_TO = 2.25            # a pause in the prompt
NEAR_END_AT = 7.10            # starts after the far end has stopped

ECHO_MODEL = "d2"             # G.168 D.2: a 64-tap hybrid response
BULK_DELAY = 100              # samples (12.5 ms) before the hybrid's response starts
ERL_DB = 12.0                 # echo power below the far-end power, over the far-end stretch

FAR_END_LEVEL = -17.0         # dBm0, power average over the active 10 ms blocks
NEAR_END_LEVEL = -20.0
NOISE_LEVEL = -62.0           # dBm0, white Gaussian line noise on Rx
NOISE_SEED = 20240601

FADE = 160                    # samples of raised-cosine fade at each cut of a prompt

# The engine's level scale: 10 log10(variance * C) reads in dBm0 (0 dBm0 = rms 16016.76).
LEVEL_SCALE = 3.89807986822619e-9
ACTIVE_FLOOR = -50.0          # a 10 ms block above this counts as speech


def level(block):
    """Level of a block in dBm0 on the engine's scale; -inf for a constant block."""
    n = len(block)
    mean = sum(block) / n
    variance = sum(x * x for x in block) / n - mean * mean
    return 10.0 * math.log10(variance * LEVEL_SCALE) if variance > 0.0 else -math.inf


def active_power(samples):
    """Mean square over the 10 ms blocks whose level is above the speech floor."""
    total = 0.0
    count = 0
    for start in range(0, len(samples) - 79, 80):
        block = samples[start:start + 80]
        if level(block) > ACTIVE_FLOOR:
            total += sum(x * x for x in block)
            count += 80
    if count == 0:
        sys.exit("no speech found in a prompt")
    return total / count


def gain_for_level(samples, target_dbm0):
    """Gain that brings the active-speech power of samples to target_dbm0."""
    target_power = 10.0 ** (target_dbm0 / 10.0) / LEVEL_SCALE
    return math.sqrt(target_power / active_power(samples))


def read_prompt(folder, name, start_s, end_s):
    path = folder / name
    with wave.open(str(path), "rb") as w:
        if w.getframerate() != RATE or w.getsampwidth() != 2 or w.getnchannels() != 1:
            sys.exit(f"{path}: expected 8 kHz 16-bit mono")
        frames = w.readframes(w.getnframes())
    samples = array.array("h")
    samples.frombytes(frames)
    if sys.byteorder == "big":
        samples.byteswap()
    cut = [float(x) for x in samples[int(start_s * RATE):int(end_s * RATE)]]
    for i in range(min(FADE, len(cut) // 2)):
        w = 0.5 - 0.5 * math.cos(math.pi * i / FADE)
        cut[i] *= w
        cut[-1 - i] *= w
    return cut


def read_echo_model(header, name):
    """The integer coefficients of line_model_<name>_coeffs from g168models.h."""
    text = header.read_text()
    match = re.search(r"line_model_" + name + r"_coeffs\s*\[\s*\]\s*=\s*\{([^}]*)\}", text)
    if not match:
        sys.exit(f"{header}: no table line_model_{name}_coeffs")
    return [int(v) for v in re.findall(r"-?\d+", match.group(1))]


def place(signal, samples, at_s):
    offset = int(at_s * RATE)
    for i, x in enumerate(samples):
        if offset + i < len(signal):
            signal[offset + i] += x


def convolve(x, h, delay):
    """y[n] = sum over k of h[k] x[n - delay - k], zeros before the start."""
    y = [0.0] * len(x)
    for n in range(delay, len(x)):
        acc = 0.0
        for k, c in enumerate(h):
            m = n - delay - k
            if m < 0:
                break
            acc += c * x[m]
        y[n] = acc
    return y


def to_pcm(signal):
    out = array.array("h", (max(-32768, min(32767, round(v))) for v in signal))
    if sys.byteorder == "big":
        out.byteswap()
    return out.tobytes()


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sounds", type=pathlib.Path,
                        default=pathlib.Path("/usr/share/asterisk/sounds/en"))
    parser.add_argument("--models", type=pathlib.Path,
                        default=pathlib.Path("/usr/include/spandsp/g168models.h"))
    parser.add_argument("--out-dir", type=pathlib.Path, default=root / "samples")
    args = parser.parse_args()

    far = read_prompt(args.sounds, FAR_END_PROMPT, FAR_END_FROM, FAR_END_TO)
    far_gain = gain_for_level(far, FAR_END_LEVEL)
    tx = [0.0] * LENGTH
    place(tx, [v * far_gain for v in far], FAR_END_AT)
    # Tx is what the gateway sends, so it is taken as integer samples before the echo path.
    tx = [float(max(-32768, min(32767, round(v)))) for v in tx]

    model = read_echo_model(args.models, ECHO_MODEL)
    echo = convolve(tx, model, BULK_DELAY)
    tx_power = sum(v * v for v in tx)
    echo_power = sum(v * v for v in echo)
    echo_gain = math.sqrt(tx_power / echo_power * 10.0 ** (-ERL_DB / 10.0))

    near = read_prompt(args.sounds, NEAR_END_PROMPT, NEAR_END_FROM, NEAR_END_TO)
    near_gain = gain_for_level(near, NEAR_END_LEVEL)

    noise_rms = math.sqrt(10.0 ** (NOISE_LEVEL / 10.0) / LEVEL_SCALE)
    rng = random.Random(NOISE_SEED)
    rx = [echo_gain * e + rng.gauss(0.0, noise_rms) for e in echo]
    place(rx, [v * near_gain for v in near], NEAR_END_AT)

    args.out_dir.mkdir(parents=True, exist_ok=True)
    (args.out_dir / "tx.pcm").write_bytes(to_pcm(tx))
    (args.out_dir / "rx.pcm").write_bytes(to_pcm(rx))

    peak = max(range(len(model)), key=lambda k: abs(model[k]))
    print(f"tx.pcm, rx.pcm: {LENGTH} samples ({LENGTH / RATE:.1f} s) each in {args.out_dir}")
    print(f"echo path: G.168 {ECHO_MODEL.upper()} ({len(model)} taps, largest at tap {peak}) "
          f"after a bulk delay of {BULK_DELAY} samples, ERL {ERL_DB:.1f} dB")
    print(f"far end {FAR_END_LEVEL:.0f} dBm0, near end {NEAR_END_LEVEL:.0f} dBm0 "
          f"from {NEAR_END_AT:.2f} s, line noise {NOISE_LEVEL:.0f} dBm0")


if __name__ == "__main__":
    main()
