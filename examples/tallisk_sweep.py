#!/usr/bin/env python3
"""Writes tallisk_sweep.wbf, the bank of the tallisk sweep example: run `python3 tallisk_sweep.py`.

Waveforms 1 and 2 are the editor's "Sawtooth" (x[i] = i/512 - 1), 3 and 4 its "Square"; the
other twelve are silent. Morphing from 0 V to 0.234 V moves from the sawtooth to the square.
"""
import struct

SAW = [i / 512.0 - 1.0 for i in range(1024)]
SQUARE = [1.0 if i < 512 else -1.0 for i in range(1024)]
SILENT = [0.0] * 1024
WAVES = [SAW, SAW, SQUARE, SQUARE] + [SILENT] * 12
NAMES = ["Sawtooth", "Sawtooth", "Square", "Square"] + ["Untitled %d" % (k + 1) for k in range(4, 16)]

with open("tallisk_sweep.wbf", "wb") as f:
    f.write(b"WBF ")
    for wave in WAVES:
        f.write(struct.pack("<1024f", *wave))
    for name in NAMES:
        f.write(name.encode("ascii")[:15].ljust(16, b"\0"))
