#!/usr/bin/env python3
"""Writes the sound tests' input files into the folder named by the first argument.

WAVE files come from python's wave module where it can make them; IFF 8SVX/16SV files and
Protracker modules are laid out by hand from their published formats.
"""
import math
import os
import struct
import sys
import wave

out = sys.argv[1]
os.makedirs(out, exist_ok=True)


def path(name):
    return os.path.join(out, name)


def write_wave(name, channels, width, rate, frames):
    with wave.open(path(name), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(width)
        w.setframerate(rate)
        w.writeframes(frames)


def ramp8(n):
    return bytes((i * 7) & 255 for i in range(n))


def sine16(n, channels, rate=48000, freq=440.0):
    data = bytearray()
    for i in range(n):
        v = int(12000 * math.sin(2 * math.pi * freq * i / rate))
        for c in range(channels):
            data += struct.pack("<h", v if c == 0 else -v // 2)
    return bytes(data)


def riff(chunks):
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def chunk(cid, data, pad=True):
    c = cid + struct.pack("<I", len(data)) + data
    if pad and len(data) % 2:
        c += b"\0"
    return c


def fmt16(channels, rate, bits):
    align = channels * bits // 8
    return chunk(b"fmt ", struct.pack("<HHIIHH", 1, channels, rate, rate * align, align, bits))


write_wave("mono8.wav", 1, 1, 8000, ramp8(1000))
write_wave("stereo16.wav", 2, 2, 48000, sine16(4800, 2))
write_wave("mono16_22k.wav", 1, 2, 22050, sine16(22050, 1, 22050))
write_wave("three_ch.wav", 3, 2, 16000, sine16(1000, 3, 16000))
write_wave("long16.wav", 2, 2, 48000, sine16(48000 * 3 + 1234, 2, 48000, 220.0))
write_wave("short16.wav", 1, 2, 48000, sine16(12000, 1))
# An 18-byte "fmt " (with its extension size) is left to the system reader.
pcm = sine16(2000, 1, 8000)
fmt18 = chunk(b"fmt ", struct.pack("<HHIIHHH", 1, 1, 8000, 16000, 2, 16, 0))
open(path("fmt18.wav"), "wb").write(riff([fmt18, chunk(b"data", pcm)]))
# A LIST chunk of odd size before the data is skipped with its pad byte.
open(path("list_odd.wav"), "wb").write(riff([fmt16(1, 8000, 8), chunk(b"LIST", b"INFOabc"), chunk(b"data", ramp8(500))]))
# A data chunk that claims more than the file holds.
cut = riff([fmt16(1, 8000, 8), b"data" + struct.pack("<I", 100000) + ramp8(300)])
open(path("short_data.wav"), "wb").write(cut)
# Rates that a file may claim: the highest one taken, and one no recording uses (the byte rate
# field, which nothing reads, wraps).
for name, rate in (("rate_top.wav", 1000000), ("rate_huge.wav", 0xFFFFFF00)):
    fmt = chunk(b"fmt ", struct.pack("<HHIIHH", 1, 1, rate, rate * 2 & 0xFFFFFFFF, 2, 16))
    open(path(name), "wb").write(riff([fmt, chunk(b"data", sine16(250, 1))]))


def iff(form, chunks):
    body = form + b"".join(chunks)
    return b"FORM" + struct.pack(">I", len(body)) + body


def ichunk(cid, data):
    c = cid + struct.pack(">I", len(data)) + data
    if len(data) % 2:
        c += b"\0"
    return c


def vhdr(rate, compression=0, size=20):
    d = struct.pack(">IIIHBBI", 0, 0, 0, rate, 1, compression, 0x10000)
    return b"VHDR" + struct.pack(">I", size) + d + b"\0" * (size - 20)


left = bytes((i * 3) & 255 for i in range(1000))
right = bytes((255 - i) & 255 for i in range(1000))
open(path("stereo.8svx"), "wb").write(iff(b"8SVX", [vhdr(11025), ichunk(b"CHAN", struct.pack(">I", 6)), ichunk(b"BODY", left + right)]))
open(path("name_odd.8svx"), "wb").write(iff(b"8SVX", [vhdr(8000), ichunk(b"NAME", b"odd"), ichunk(b"BODY", left)]))
open(path("bad_vhdr.8svx"), "wb").write(iff(b"8SVX", [vhdr(8000, size=24), ichunk(b"BODY", left)]))
open(path("fibonacci.8svx"), "wb").write(iff(b"8SVX", [vhdr(8000, compression=1), ichunk(b"BODY", left)]))
s16 = b"".join(struct.pack(">h", int(20000 * math.sin(i / 10))) for i in range(800))
open(path("mono.16sv"), "wb").write(iff(b"16SV", [vhdr(16000), ichunk(b"BODY", s16)]))


# Protracker modules: 31 sample headers, song length, order table, "M.K.", patterns, data.
def module(name, samples, orders, patterns, song_length=None, cut=0):
    head = b"fixture module".ljust(20, b"\0")
    data = b""
    for i in range(31):
        if i < len(samples):
            s = samples[i]
            head += s["name"].ljust(22, b"\0")
            head += struct.pack(">HBBHH", len(s["data"]) // 2, s.get("finetune", 0), s.get("volume", 64),
                                s.get("rs", 0) // 2, s.get("rl", 2) // 2)
            data += s["data"]
        else:
            head += b"\0" * 22 + struct.pack(">HBBHH", 0, 0, 0, 0, 1)
    head += bytes([len(orders) if song_length is None else song_length, 127])
    head += bytes(orders + [0] * (128 - len(orders)))
    head += b"M.K."
    pats = b""
    for p in patterns:
        rows = b""
        for r in range(64):
            for c in range(4):
                period, sample, eff, par = p.get((r, c), (0, 0, 0, 0))
                rows += bytes([(sample & 0xF0) | (period >> 8), period & 255, ((sample & 15) << 4) | eff, par])
        pats += rows
    blob = head + pats + data
    if cut:
        blob = blob[:-cut]
    open(path(name), "wb").write(blob)


square = bytes([64] * 32 + [192] * 32)  # -64 as signed
sine = bytes(int(100 * math.sin(2 * math.pi * i / 64)) & 255 for i in range(512))
samples = [
    {"name": b"square", "data": square, "rs": 0, "rl": 64, "volume": 48},
    {"name": b"sine", "data": sine, "volume": 64},
]
p0 = {(0, 0): (428, 1, 0xF, 3), (0, 1): (214, 2, 0, 0), (4, 2): (320, 1, 0xC, 0x40), (8, 3): (254, 2, 0, 0x37),
      (16, 0): (428, 1, 1, 2), (24, 1): (214, 1, 0xA, 0x02), (32, 2): (160, 2, 4, 0x46), (40, 0): (0, 0, 0xE, 0x60),
      (44, 0): (285, 1, 0, 0), (48, 0): (0, 0, 0xE, 0x62), (63, 3): (0, 0, 0xD, 0x10)}
p1 = {(0, 0): (338, 2, 0xF, 0x8C), (10, 1): (226, 1, 3, 8), (12, 1): (453, 0, 3, 8), (20, 2): (170, 2, 0xE, 0xE2),
      (30, 3): (127, 1, 7, 0x44), (40, 0): (0, 0, 0xB, 0x02)}
p2 = {(0, 0): (214, 1, 0xF, 6), (0, 2): (143, 2, 9, 1), (8, 1): (180, 1, 0xE, 0x93), (16, 3): (240, 2, 0xE, 0xC2)}
module("song.mod", samples, [0, 1, 0, 2], [p0, p1, p2])
# The order table names pattern 5: six patterns, sample data behind them.
module("pattern5.mod", [{"name": b"mark", "data": bytes([1, 2, 3, 4] * 8)}], [5, 0], [{}] * 6)
# Cut inside its patterns: not a usable module.
module("truncated.mod", samples, [0, 1], [p0, p1], cut=len(square) + len(sine) + 600)
module("nolength.mod", samples, [0], [p0], song_length=0)
# A loop beyond its sample's end is clamped to the sample.
module("longloop.mod", [{"name": b"loop", "data": square, "rs": 32, "rl": 200, "volume": 64}], [0],
       [{(0, 0): (428, 1, 0, 0), (0, 1): (428, 40, 0, 0)}])
open(path("junk.mus"), "wb").write(bytes((i * 37 + 11) & 255 for i in range(5000)))
