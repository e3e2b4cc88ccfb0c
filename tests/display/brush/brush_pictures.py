#!/usr/bin/python3
"""Pictures for the brush loading tests, made with PIL, each with PIL's own decoding.

  brush_pictures.py make DIR       rgba.png (100x50, alpha), rgb.bmp (40x30, some pure green),
                                   photo.jpg (64x48), wide.png (65535x1), tall.png (1x65535,
                                   alpha), wide.bmp (40000x1); NAME.ref beside each
  brush_pictures.py decode FILE REF  FILE as PIL decodes it

A reference file is width and height (two little-endian u32), then width x height RGBA bytes.
"""
import struct
import sys

from PIL import Image


def write_ref(path, img):
    rgba = img.convert("RGBA")
    with open(path, "wb") as f:
        f.write(struct.pack("<II", rgba.width, rgba.height))
        f.write(rgba.tobytes())


def make(d):
    img = Image.new("RGBA", (100, 50))
    px = img.load()
    for y in range(50):
        for x in range(100):
            px[x, y] = ((x * 5) & 255, (y * 9) & 255, (x * y) & 255, (x * 3 + y * 7) & 255)
    img.save(d + "/rgba.png")
    bmp = Image.new("RGB", (40, 30))
    px = bmp.load()
    for y in range(30):
        for x in range(40):
            px[x, y] = (0, 255, 0) if (x // 4 + y // 3) % 3 == 0 else ((x * 6) & 255, (y * 8) & 255, 77)
    bmp.save(d + "/rgb.bmp")
    photo = Image.new("RGB", (64, 48))
    px = photo.load()
    for y in range(48):
        for x in range(64):
            px[x, y] = (x * 4, y * 5, (x + y) * 2)
    photo.save(d + "/photo.jpg", quality=90)
    # Pictures with one side far past 32767 pixels and few bytes.
    wide = Image.new("RGB", (65535, 1))
    px = wide.load()
    for x in range(65535):
        px[x, 0] = (x & 255, (x >> 8) & 255, (x * 7) & 255)
    wide.save(d + "/wide.png")
    tall = Image.new("RGBA", (1, 65535))
    px = tall.load()
    for y in range(65535):
        px[0, y] = ((y * 3) & 255, y & 255, (y >> 8) & 255, (y * 5) & 255)
    tall.save(d + "/tall.png")
    wide.crop((0, 0, 40000, 1)).save(d + "/wide.bmp")
    for name in ("rgba.png", "rgb.bmp", "photo.jpg", "wide.png", "tall.png", "wide.bmp"):
        write_ref(d + "/" + name + ".ref", Image.open(d + "/" + name))


def main():
    if sys.argv[1] == "make":
        make(sys.argv[2])
    elif sys.argv[1] == "decode":
        write_ref(sys.argv[3], Image.open(sys.argv[2]))


main()
