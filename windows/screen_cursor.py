#!/usr/bin/env python3
"""The wave view's cursors as the screen shows them. Runs view_cursor_test's screen test under Wine
(through wine_run.sh and its watchdog); each time the test has shown a mode's cursor under the
pointer, reads the X server's current cursor (XFixes) and compares it, pixel for pixel and hot spot,
with the picture drawn into the build's .cur file. What the screen showed is kept as text in
WORK_DIR/screen-ID.txt.
Usage: screen_cursor.py WINE_RUN TEST_EXE CURSOR_DIR WORK_DIR   (DISPLAY, MV_WINE, WINEPREFIX set)"""
import ctypes
import os
import shutil
import struct
import subprocess
import sys
import time

MODES = [(122, "select"), (109, "draw"), (113, "move"), (106, "zoom")]
TRANSPARENT, BLACK, WHITE = 0x00000000, 0xFF000000, 0xFFFFFFFF


def cur_picture(path):
    """(width, height, hot x, hot y, ARGB rows top first) of a two-colour .cur file."""
    data = open(path, "rb").read()
    width, height, _, _, hot_x, hot_y, _, offset = struct.unpack_from("<BBBBHHII", data, 6)
    row = (width + 31) // 32 * 4
    bits = offset + 40 + 8
    xor, mask = data[bits:bits + row * height], data[bits + row * height:bits + 2 * row * height]

    def bit(plane, x, y):
        return plane[(height - 1 - y) * row + x // 8] >> (7 - x % 8) & 1

    pixels = [[TRANSPARENT if bit(mask, x, y) else WHITE if bit(xor, x, y) else BLACK for x in range(width)]
              for y in range(height)]
    return width, height, hot_x, hot_y, pixels


class CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


def screen_cursor():
    x11 = ctypes.CDLL("libX11.so.6")
    xfixes = ctypes.CDLL("libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("screen_cursor: no X display")
    image = xfixes.XFixesGetCursorImage(display)
    i = image.contents
    pixels = [[i.pixels[y * i.width + x] & 0xFFFFFFFF for x in range(i.width)] for y in range(i.height)]
    result = (i.width, i.height, i.xhot, i.yhot, pixels)
    x11.XFree(image)
    x11.XCloseDisplay(display)
    return result


def as_text(picture):
    chars = {TRANSPARENT: " ", BLACK: "#", WHITE: "."}
    return "\n".join("".join(chars.get(p, "?") for p in row) for row in picture[4]) + "\n"


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    wine_run, test_exe, cursor_dir, work = sys.argv[1:]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    env = dict(os.environ, MV_CURSOR_HANDSHAKE="Z:" + work.replace("/", "\\"), MV_WINE_TIMEOUT="120")
    test = subprocess.Popen(["sh", wine_run, test_exe, "--gtest_filter=WaveViewCursors.ShowOnTheScreenUnderThePointer"],
                            env=env)
    problems = []
    for resource, name in MODES:
        shown = os.path.join(work, "shown-%d" % resource)
        deadline = time.monotonic() + 120
        while not os.path.exists(shown) and test.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        if not os.path.exists(shown):
            problems.append("the test never showed the %s cursor" % name)
            break
        # The X server takes the new cursor once the window's thread has handled its message: a
        # loaded machine gets a few seconds for that.
        want = cur_picture(os.path.join(cursor_dir, name + ".cur"))
        for _ in range(30):
            seen = screen_cursor()
            if seen == want:
                break
            time.sleep(0.1)
        with open(os.path.join(work, "screen-%d.txt" % resource), "w") as f:
            f.write(as_text(seen))
        if seen[:4] != want[:4]:
            problems.append("%s: the screen shows a %dx%d cursor with hot spot %d,%d, not %dx%d at %d,%d"
                            % ((name,) + tuple(seen[:4]) + tuple(want[:4])))
        elif seen[4] != want[4]:
            wrong = sum(a != b for r, s in zip(seen[4], want[4]) for a, b in zip(r, s))
            problems.append("%s: %d of the screen cursor's pixels differ from %s.cur" % (name, wrong, name))
        open(os.path.join(work, "seen-%d" % resource), "w").close()
    status = test.wait()
    if status != 0:
        problems.append("the test program ended with status %d" % status)
    for p in problems:
        print("screen_cursor:", p)
    if problems:
        sys.exit(1)
    print("screen_cursor: the screen showed each of the four cursors drawn into tallisk_view.dll, hot spot included")


if __name__ == "__main__":
    main()
