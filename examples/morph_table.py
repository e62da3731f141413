#!/usr/bin/env python3
"""Writes a wavetable for trying mvbank: `python3 morph_table.py OUT.wt`.

128 frames of 2048 float samples in the 'vawt' layout (header "vawt", uint32 frame size, uint16
frame count, uint16 flags 0 for float32), morphing from a sine through a sawtooth to a square and
on to a narrowing pulse. Every frame is additive (32 partials, softened by Lanczos factors so that
the edges do not ring) and peaks at 0.9.
"""
import math
import struct
import sys

N, FRAMES, PARTIALS = 2048, 128, 32
SIN = [math.sin(2 * math.pi * i / N) for i in range(N)]


def frame(sine, saw, pulse, width):
    """One period: sine, sawtooth and pulse (of the given width, cosine phase) mixed."""
    x = [sine * SIN[i] for i in range(N)]
    for h in range(1, PARTIALS + 1):
        soft = math.sin(math.pi * h / (PARTIALS + 1)) / (math.pi * h / (PARTIALS + 1))
        a_saw = saw * soft * (2 / math.pi) * (-1) ** (h + 1) / h
        a_pulse = pulse * soft * (2 / (h * math.pi)) * math.sin(h * math.pi * width)
        for i in range(N):
            j = (h * i) % N
            x[i] += a_saw * SIN[j] + a_pulse * SIN[(j + N // 4) % N]
    peak = max(abs(v) for v in x)
    return [0.9 * v / peak for v in x]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: morph_table.py OUT.wt")
    frames = []
    for k in range(FRAMES):
        t = 3.0 * k / (FRAMES - 1)
        if t < 1:
            frames.append(frame(1 - t, t, 0, 0.5))
        elif t < 2:
            frames.append(frame(0, 2 - t, t - 1, 0.5))
        else:
            frames.append(frame(0, 0, 1, 0.5 - 0.4 * (t - 2)))
    with open(sys.argv[1], "wb") as f:
        f.write(b"vawt" + struct.pack("<IHH", N, FRAMES, 0))
        for x in frames:
            f.write(struct.pack("<%df" % N, *x))


main()
