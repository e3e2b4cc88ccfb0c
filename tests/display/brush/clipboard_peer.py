#!/usr/bin/env python3
"""PIL's side of the clipboard picture tests.

make PATH MODE: writes a 5 x 3 PNG (MODE RGB or RGBA) and prints its size and pixels.
read: reads a PNG from standard input and prints its size, mode and pixels.
Pixels are printed as AARRGGBB hex words, one row a line (alpha FF for pictures without one).
"""
import io
import sys

from PIL import Image


def dump(img):
    rgba = img.convert("RGBA")
    w, h = rgba.size
    lines = ["%d %d %s" % (w, h, img.mode)]
    for y in range(h):
        words = []
        for x in range(w):
            r, g, b, a = rgba.getpixel((x, y))
            words.append("%02X%02X%02X%02X" % (a, r, g, b))
        lines.append(" ".join(words))
    print("\n".join(lines))


def make(path, mode):
    img = Image.new(mode, (5, 3))
    for y in range(3):
        for x in range(5):
            px = (40 * x + 7, 90 * y + 3, 255 - 30 * x - 20 * y)
            if mode == "RGBA":
                px += ((255, 200, 128, 1, 0)[x] if y != 1 else 255,)
            img.putpixel((x, y), px)
    img.save(path)
    dump(Image.open(path))


def main():
    if sys.argv[1] == "make":
        make(sys.argv[2], sys.argv[3])
    elif sys.argv[1] == "read":
        dump(Image.open(io.BytesIO(sys.stdin.buffer.read())))


if __name__ == "__main__":
    main()
