#!/usr/bin/python3
"""FreeType as an independent peer, through python3-pil's ImageFont (its own FreeType build).

  ft_peer.py probe FONT            ascent and descent of codes 33..255 at 100 pixels per em
  ft_peer.py glyphs FONT PX CODES  per code: 64ths of the advance, ink box and coverage bytes
  ft_peer.py kern FONT PX A B      64ths of the kerning of the pair
  ft_peer.py capital FONT PX       rows of ink of the capital A
Positions are relative to the pen on the baseline, y growing downwards.
"""
import sys

from PIL import ImageFont

BASIC = ImageFont.Layout.BASIC


def font(path, size):
    return ImageFont.truetype(path, size, layout_engine=BASIC)


def main():
    cmd, path = sys.argv[1], sys.argv[2]
    if cmd == "probe":
        f = font(path, 100)
        ascent = descent = 0
        for code in range(33, 256):
            ch = chr(code)
            left, top, right, bottom = f.getbbox(ch, anchor="ls")
            if right <= left or bottom <= top:
                continue
            ascent = max(ascent, -top)
            descent = max(descent, bottom)
        print(ascent, descent)
    elif cmd == "glyphs":
        f = font(path, int(sys.argv[3]))
        for code in map(int, sys.argv[4].split(",")):
            ch = chr(code)
            advance = round(f.getlength(ch) * 64)
            left, top, right, bottom = f.getbbox(ch, anchor="ls")
            mask = f.getmask(ch, mode="L", anchor="ls")
            w, h = mask.size
            data = bytes(mask.getpixel((x, y)) for y in range(h) for x in range(w))
            print("glyph", code, advance, left, top, w, h, data.hex() or "-")
    elif cmd == "capital":
        f = font(path, int(sys.argv[3]))
        left, top, right, bottom = f.getbbox("A", anchor="ls")
        print(bottom - top)
    elif cmd == "kern":
        f = font(path, int(sys.argv[3]))
        a, b = sys.argv[4], sys.argv[5]
        print(round((f.getlength(a + b) - f.getlength(a) - f.getlength(b)) * 64))


main()
