#!/usr/bin/env python3
"""Seeds of the vector fuzz targets: a few paths as the plug-in's command stream behind the
stream target's head of settings, and the same shapes as the renderer target's byte programs.
Usage: make_vector_seeds.py STREAM_DIR REQUESTS_DIR"""
import os
import struct
import sys


def stream(commands):
    out = b""
    for c in commands:
        op = c[0]
        if op in ("move", "line", "curve"):
            code = {"move": 1, "line": 2, "curve": 3}[op]
            out += struct.pack("<II", code, c[1]) + struct.pack("<%dd" % (len(c) - 2), *c[2:])
        elif op == "sub":
            out += struct.pack("<I", 5)
        elif op == "close":
            out += struct.pack("<I", 6)
        elif op == "arc":
            out += struct.pack("<I6dI", 7, *c[1:7], c[7])
        elif op == "box":
            out += struct.pack("<I4d4I", 8, *c[1:5], *c[5:9])
    return out + struct.pack("<I", 0)


SHAPES = {
    "triangle": [("move", 0, 4, 2), ("line", 0, 30, 8), ("line", 0, 10, 25), ("close",)],
    "pie": [("move", 0, 12, 12), ("arc", 12, 12, 12, 12, 0, 120, 1), ("close",)],
    "arcs": [("arc", 10, 10, 9, 9, 0, 270, 0), ("sub",), ("arc", 20, 20, 5, 8, -90, 1e7, 1)],
    "box": [("box", 0, 0, 30, 20, 100, 50, 0, 20)],
    "curve": [("move", 0, 2, 30), ("curve", 0, 10, -10, 25, 50, 36, 4), ("line", 1, -5, -12)],
}


def stream_head(flags, width, dashes):
    head = struct.pack("<5B", flags, width, 40, 40, len(dashes))
    head += struct.pack("<6d", 1, 0, 0, 1, 0, 0)  # matrix
    head += struct.pack("<6d", 2, 2, 0, 0, 3, -1)  # offset, origin, move
    head += b"".join(struct.pack("<d", d) for d in dashes) + struct.pack("<d", 1)
    return head


def request(shape, fill, form, turn):
    b = bytes([fill, form, 3, 2, 3, 5]) + struct.pack("<II", 0x00FF0000, 0x40000000)
    b += bytes([1]) + struct.pack("<IIh", 0xFF0000, 0x0000FF, 45)
    b += bytes([0x21 | 0x40, 12, 4, 2])  # joins, caps, rule, dashes 3 and 1 at offset 2
    b += bytes([turn, 64, 128, 128]) + struct.pack("<I", 0x80FFC000) + bytes([2])
    for c in SHAPES[shape]:
        op = c[0]
        code = {"move": 0, "line": 1, "curve": 2, "sub": 3, "close": 4, "arc": 5, "box": 6}[op]
        if op in ("move", "line", "curve"):
            b += bytes([code | (c[1] << 7)])
            for v in c[2:]:
                b += bytes([int(v * 2) & 255, 0])
        elif op == "arc":
            b += bytes([code | (c[7] << 7)])
            for v in c[1:5]:
                b += bytes([int(v * 2) & 255, 0])
            b += struct.pack("<hh", int(c[5]) % 32768, int(min(c[6], 32767)))
        elif op == "box":
            b += bytes([code])
            for v in c[1:5]:
                b += bytes([int(v * 2) & 255, 0])
            b += bytes(c[5:9])
        else:
            b += bytes([code])
    return b


def main():
    streams, requests = sys.argv[1], sys.argv[2]
    os.makedirs(streams, exist_ok=True)
    os.makedirs(requests, exist_ok=True)
    for i, (name, commands) in enumerate(SHAPES.items()):
        dashes = [4, 2] if i % 2 else []
        flags = (i & 1) | 2 | ((i % 3) << 2) | (0x80 if dashes else 0)
        with open(os.path.join(streams, name), "wb") as f:
            f.write(stream_head(flags, 1 + 2 * i, dashes) + stream(commands))
        for fill, form, turn in ((1, 16, 0), (2, 16 | 32 | 64, 20), (0, 16, 0)):
            with open(os.path.join(requests, "%s-%d-%d" % (name, fill, form)), "wb") as f:
                f.write(request(name, fill, form, turn))


main()
