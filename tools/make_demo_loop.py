#!/usr/bin/env python3
"""Writes a 4-bar drum loop (120 BPM, 44.1 kHz, stereo, 16-bit WAV, 8 seconds).

Kick, snare and closed hi-hats are synthesised here: a pitch-swept sine kick, a
snare of two decaying tones over high-passed noise, and hats of sharply
high-passed noise, placed slightly apart in the stereo field. The random source
has a fixed seed, so every run writes the same bytes.

usage: make_demo_loop.py OUT.wav
"""

import argparse
import math
import random
import struct
import wave

RATE = 44100
BPM = 120
BARS = 4
STEPS_PER_BAR = 16  # sixteenth notes
SEED = 20240611

BEAT_FRAMES = RATE * 60 // BPM          # 22050
TOTAL_FRAMES = BARS * 4 * BEAT_FRAMES   # 352800 = 8 s

# One string per bar; position = sixteenth step. Upper case is an accent.
KICK = ["x.......x.x.....", "x......xx.......", "x.......x.x.....", "x......xx.....x."]
SNARE = ["....X.......X...", "....X.......X...", "....X.......X...", "....X.......X..x"]
HATS = ["XxXxXxXxXxXxXxXx", "Xx.xXx.xXx.xXxXx", "XxXxXxXxXxXxXxXx", "Xx.xXx.xXxXxX.Xx"]


def step_frame(bar, step):
    # A sixteenth is 5512.5 frames: round to the nearest frame.
    return int(round((bar * STEPS_PER_BAR + step) * BEAT_FRAMES / 4.0))


def kick(rng):
    length = int(0.45 * RATE)
    out = []
    phase = 0.0
    for i in range(length):
        t = i / RATE
        freq = 48.0 + 112.0 * math.exp(-t / 0.032)
        phase += 2.0 * math.pi * freq / RATE
        body = math.sin(phase) * math.exp(-t / 0.20)
        click = (rng.random() * 2.0 - 1.0) * math.exp(-t / 0.0015) * 0.35
        out.append(math.tanh(1.8 * (body + click)) / math.tanh(1.8))
    fade_tail(out, 0.02)
    return out, out


def highpass(samples, coeff):
    # One-pole high-pass: keeps the bright part of the noise.
    out = []
    prev_x = 0.0
    prev_y = 0.0
    for x in samples:
        prev_y = coeff * (prev_y + x - prev_x)
        prev_x = x
        out.append(prev_y)
    return out


def snare(rng):
    length = int(0.26 * RATE)
    common = highpass([rng.random() * 2.0 - 1.0 for _ in range(length)], 0.86)
    sides = [highpass([rng.random() * 2.0 - 1.0 for _ in range(length)], 0.86) for _ in range(2)]
    channels = []
    for side in sides:
        out = []
        for i in range(length):
            t = i / RATE
            tone = (0.55 * math.sin(2.0 * math.pi * 185.0 * t) * math.exp(-t / 0.045)
                    + 0.30 * math.sin(2.0 * math.pi * 330.0 * t) * math.exp(-t / 0.030))
            noise = (0.75 * common[i] + 0.25 * side[i]) * math.exp(-t / 0.055)
            out.append(tone + 0.9 * noise)
        fade_tail(out, 0.02)
        channels.append(out)
    return channels[0], channels[1]


def hat(rng):
    length = int(0.07 * RATE)
    noise = [rng.random() * 2.0 - 1.0 for _ in range(length)]
    bright = highpass(highpass(noise, 0.55), 0.55)
    out = [bright[i] * math.exp(-(i / RATE) / 0.014) for i in range(length)]
    fade_tail(out, 0.01)
    return out, out


def fade_tail(samples, seconds):
    # A short linear fade so a hit never stops with a click.
    n = min(len(samples), int(seconds * RATE))
    for k in range(n):
        samples[len(samples) - n + k] *= (n - k) / n


def add(mix_l, mix_r, start, hit, gain_l, gain_r):
    left, right = hit
    end = min(len(mix_l), start + len(left))
    for i in range(start, end):
        mix_l[i] += gain_l * left[i - start]
        mix_r[i] += gain_r * right[i - start]


def render():
    rng = random.Random(SEED)
    mix_l = [0.0] * TOTAL_FRAMES
    mix_r = [0.0] * TOTAL_FRAMES
    for bar in range(BARS):
        for step in range(STEPS_PER_BAR):
            at = step_frame(bar, step)
            k = KICK[bar][step]
            if k != ".":
                add(mix_l, mix_r, at, kick(rng), 0.95, 0.95)
            s = SNARE[bar][step]
            if s != ".":
                level = 0.62 if s == "X" else 0.22
                add(mix_l, mix_r, at, snare(rng), level * 0.96, level)
            h = HATS[bar][step]
            if h != ".":
                level = (0.30 if h == "X" else 0.17) * (0.9 + 0.2 * rng.random())
                # Hats sit right of centre, alternating a little from step to step.
                pan = 0.62 if step % 2 == 0 else 0.55
                add(mix_l, mix_r, at, hat(rng), level * (1.0 - pan) * 2.2, level * pan * 2.2)
    peak = max(max(abs(v) for v in mix_l), max(abs(v) for v in mix_r))
    scale = 0.89 / peak  # about -1 dBFS
    return [v * scale for v in mix_l], [v * scale for v in mix_r]


def to_pcm16(left, right):
    ints = []
    for l, r in zip(left, right):
        for v in (l, r):
            ints.append(max(-32768, min(32767, int(round(v * 32767.0)))))
    return struct.pack("<%dh" % len(ints), *ints)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out", metavar="OUT.wav", help="file to write")
    args = parser.parse_args()
    left, right = render()
    with wave.open(args.out, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(to_pcm16(left, right))


if __name__ == "__main__":
    main()
