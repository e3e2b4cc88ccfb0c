#!/usr/bin/python3
"""GIF animations for the anim tests, made and read by Pillow, the independent peer.

make DIR   writes DIR/strip.gif: 3 frames of 8 x 6, frame i showing colour LEFT[i] in columns
           0..3 and RIGHT[i] in columns 4..7, shown 100, 200 and 300 ms.
dump FILE  prints one line per frame of the composed animation: its duration in ms, then every
           pixel as RRGGBB, row by row.
"""
import sys

from PIL import Image, ImageSequence

LEFT = [0xF80000, 0x00FC00, 0x0000F8]
RIGHT = [0xF8F800, 0x808080, 0xF800F8]
W, H = 8, 6


def rgb(c):
    return (c >> 16 & 0xFF, c >> 8 & 0xFF, c & 0xFF)


def make(folder):
    frames = []
    for i in range(3):
        im = Image.new("RGB", (W, H))
        for y in range(H):
            for x in range(W):
                im.putpixel((x, y), rgb(LEFT[i] if x < 4 else RIGHT[i]))
        frames.append(im)
    frames[0].save(folder + "/strip.gif", save_all=True, append_images=frames[1:], duration=[100, 200, 300],
                   loop=0, optimize=False)


def dump(path):
    im = Image.open(path)
    for frame in ImageSequence.Iterator(im):
        px = frame.convert("RGB")
        cols = ["%02X%02X%02X" % px.getpixel((x, y)) for y in range(px.height) for x in range(px.width)]
        print(frame.info.get("duration", 0), " ".join(cols))


if __name__ == "__main__":
    {"make": make, "dump": dump}[sys.argv[1]](sys.argv[2])
