#!/usr/bin/env python3
"""Compares the audio of two WAV files (16- or 24-bit PCM, 32-bit float) sample for sample.

Prints how many samples differ and the peak difference in dB of full scale; exits 0 when the
audio is identical or the peak difference is at or below the limit (default -120 dB), 1 when
not, 2 when a file cannot be read. Usage: wav_diff.py A.wav B.wav [LIMIT_DB]"""
import math
import struct
import sys


def samples(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] not in (b"RIFF", b"RF64") or data[8:12] != b"WAVE":
        raise ValueError(f"{path}: not a WAV file")
    pos, fmt, payload = 12, None, None
    while pos + 8 <= len(data):
        kind, size = data[pos:pos + 4], struct.unpack_from("<I", data, pos + 4)[0]
        body = data[pos + 8:pos + 8 + size]
        if kind == b"fmt ":
            fmt = struct.unpack_from("<HHIIHH", body)
        elif kind == b"data":
            payload = body
            break
        pos += 8 + size + (size & 1)
    if fmt is None or payload is None:
        raise ValueError(f"{path}: no format or data chunk")
    tag, channels, rate, _, _, bits = fmt
    if tag == 0xFFFE:
        tag = struct.unpack_from("<H", data, data.find(b"fmt ") + 8 + 24)[0]
    if tag == 3 and bits == 32:
        values = struct.unpack(f"<{len(payload) // 4}f", payload[:len(payload) // 4 * 4])
    elif tag == 1 and bits == 16:
        values = [v / 32768.0 for v in struct.unpack(f"<{len(payload) // 2}h", payload[:len(payload) // 2 * 2])]
    elif tag == 1 and bits == 24:
        values = [int.from_bytes(payload[i:i + 3], "little", signed=True) / 8388608.0
                  for i in range(0, len(payload) - 2, 3)]
    else:
        raise ValueError(f"{path}: format {tag} with {bits} bits is not compared")
    return (channels, rate), values


def main():
    limit = float(sys.argv[3]) if len(sys.argv) > 3 else -120.0
    try:
        (shape_a, a), (shape_b, b) = samples(sys.argv[1]), samples(sys.argv[2])
    except (OSError, ValueError, struct.error) as e:
        print(e)
        return 2
    if shape_a != shape_b or len(a) != len(b):
        print(f"different shapes: {shape_a} {len(a)} samples, {shape_b} {len(b)} samples")
        return 1
    differing = sum(1 for x, y in zip(a, b) if x != y)
    if differing == 0:
        print("identical audio")
        return 0
    peak = max(abs(x - y) for x, y in zip(a, b))
    db = 20 * math.log10(peak) if peak > 0 else float("-inf")
    print(f"{differing} of {len(a)} samples differ, peak difference {db:.1f} dBFS (limit {limit:.0f})")
    return 0 if db <= limit else 1


if __name__ == "__main__":
    sys.exit(main())
