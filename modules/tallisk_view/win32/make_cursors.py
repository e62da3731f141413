#!/usr/bin/env python3
"""Draws the wave view's four mode cursors and writes them as Windows cursor files (.cur) for the
Windows build, which compiles them into tallisk_view.dll as the resources the view loads.

Each cursor is a 32 x 32 two-colour picture: a black shape with a one-pixel white rim, so that it
shows on the dark panel as well as on light windows, and a hot spot where a drag acts.
Usage: make_cursors.py OUT_DIR
"""
import math
import os
import struct
import sys

SIZE = 32
TRANSPARENT, BLACK, WHITE = 0, 1, 2


class Picture:
    def __init__(self):
        self.px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill_where(self, inside, colour=BLACK):
        for y in range(SIZE):
            for x in range(SIZE):
                if inside(x + 0.5, y + 0.5):
                    self.px[y][x] = colour

    def stroke(self, x0, y0, x1, y1, r0, r1=None, colour=BLACK):
        """A segment whose half-width goes from r0 at (x0, y0) to r1 at (x1, y1)."""
        r1 = r0 if r1 is None else r1
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            d = math.hypot(x - (x0 + t * dx), y - (y0 + t * dy))
            return d <= r0 + (r1 - r0) * t

        self.fill_where(inside, colour)

    def ring(self, cx, cy, radius, half_width):
        self.fill_where(lambda x, y: abs(math.hypot(x - cx, y - cy) - radius) <= half_width)

    def triangle(self, a, b, c):
        def side(p, q, x, y):
            return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])

        def inside(x, y):
            s = (side(a, b, x, y), side(b, c, x, y), side(c, a, x, y))
            return all(v >= 0 for v in s) or all(v <= 0 for v in s)

        self.fill_where(inside)

    def rimmed(self):
        """The white rim: every empty pixel that touches the shape."""
        out = [row[:] for row in self.px]
        for y in range(SIZE):
            for x in range(SIZE):
                if self.px[y][x] != TRANSPARENT:
                    continue
                near = (self.px[j][i] == BLACK for j in range(max(0, y - 1), min(SIZE, y + 2))
                        for i in range(max(0, x - 1), min(SIZE, x + 2)))
                if any(near):
                    out[y][x] = WHITE
        return out


def double_arrow(p, vertical):
    # Drawn across; turned by swapping the coordinates.
    def at(u, v):
        return (v, u) if vertical else (u, v)

    p.stroke(*at(6, 15.5), *at(25, 15.5), 1.2)
    p.triangle(at(1, 15.5), at(8, 9.5), at(8, 21.5))
    p.triangle(at(30, 15.5), at(23, 9.5), at(23, 21.5))


def select_cursor():
    # Drag up or down steps through the waveforms: an up-down arrow beside a wave.
    p = Picture()
    double_arrow(p, vertical=True)
    points = [(21 + i * 0.5, 15.5 - 3.5 * math.sin(i * 0.5 * 2 * math.pi / 9)) for i in range(19)]
    for (xa, ya), (xb, yb) in zip(points, points[1:]):
        p.stroke(xa, ya, xb, yb, 0.8)
    return p, (15, 15)


def draw_cursor():
    # A pencil whose tip is the hot spot.
    p = Picture()
    p.stroke(1.5, 29.5, 7.5, 23.5, 0.4, 3.0)
    p.stroke(7.5, 23.5, 26.5, 4.5, 3.0)
    p.stroke(9.5, 21.5, 24.0, 7.0, 0.5, colour=WHITE)
    p.stroke(22.0, 4.5, 27.0, 9.5, 0.6, colour=WHITE)
    return p, (1, 29)


def move_cursor():
    # Drag sideways scrolls the waveform: a left-right arrow.
    p = Picture()
    double_arrow(p, vertical=False)
    return p, (15, 15)


def zoom_cursor():
    # A magnifying glass with a plus; the hot spot is the middle of the lens.
    p = Picture()
    p.ring(11.5, 11.5, 8.0, 1.3)
    p.stroke(17.5, 17.5, 28.5, 28.5, 2.2)
    p.stroke(7.5, 11.5, 15.5, 11.5, 1.0)
    p.stroke(11.5, 7.5, 11.5, 15.5, 1.0)
    return p, (11, 11)


def cur_file(pixels, hotspot):
    """One 32 x 32 monochrome image: the colour bits (white = 1) then the mask (transparent = 1),
    rows bottom-up, in a cursor directory with the hot spot."""
    def rows(bit_of):
        data = b""
        for y in reversed(range(SIZE)):
            value = 0
            for x in range(SIZE):
                value = (value << 1) | bit_of(pixels[y][x])
            data += struct.pack(">I", value)
        return data

    xor_bits = rows(lambda c: 1 if c == WHITE else 0)
    and_bits = rows(lambda c: 1 if c == TRANSPARENT else 0)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 1, 0, len(xor_bits) + len(and_bits), 0, 0, 2, 0)
    palette = struct.pack("<II", 0x000000, 0xFFFFFF)
    image = header + palette + xor_bits + and_bits
    directory = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 2, 0, hotspot[0], hotspot[1], len(image), 6 + 16)
    return directory + entry + image


CURSORS = {"select": select_cursor, "draw": draw_cursor, "move": move_cursor, "zoom": zoom_cursor}


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_cursors.py OUT_DIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, make in CURSORS.items():
        picture, hotspot = make()
        with open(os.path.join(out, name + ".cur"), "wb") as f:
            f.write(cur_file(picture.rimmed(), hotspot))


if __name__ == "__main__":
    main()
