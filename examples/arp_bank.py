#!/usr/bin/env python3
"""Writes arp_bank.wbf, the 16-waveform bank the arpeggio example plays: run `python3 arp_bank.py`.

Waveform k blends a soft sawtooth (twelve harmonics, 1/n) towards a hollow square (odd harmonics
only) as k goes from 0 to 15; each waveform is scaled to a peak of 1.0.
"""
import math
import struct

SAMPLES = 1024
COUNT = 16


def waveform(k):
    blend = k / (COUNT - 1)
    out = []
    for i in range(SAMPLES):
        x = 2.0 * math.pi * i / SAMPLES
        s = 0.0
        for n in range(1, 13):
            weight = 1.0 / n if n % 2 else (1.0 - blend) / n
            s += weight * math.sin(n * x)
        out.append(s)
    peak = max(abs(v) for v in out)
    return [v / peak for v in out]


with open("arp_bank.wbf", "wb") as f:
    f.write(b"WBF ")
    for k in range(COUNT):
        f.write(struct.pack("<%df" % SAMPLES, *waveform(k)))
    for k in range(COUNT):
        f.write(("Arp %d" % (k + 1)).encode("ascii").ljust(16, b"\0"))
