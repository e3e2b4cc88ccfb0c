#!/usr/bin/env python3
"""Writes the packed-file fixtures of qmpk_test.cpp with python3's zlib, so that the unpacker
is checked against an encoder that is not ours. Run from this folder: python3 qmpk_golden.py"""
import zlib

# qmpk_test.cpp builds the same text to compare with.
text = b"".join(b"line %d of the packed fixture\n" % i for i in range(2000))
with open("golden/qmpk_text.qmpk", "wb") as f:
    f.write(b"QMPK" + b"\0\0\0\0" + zlib.compress(text, 9))
# The same text as a packed program at offset 100, behind filler bytes, with trailing bytes.
with open("golden/qmz_at100.bin", "wb") as f:
    f.write(b"x" * 100 + b"QMZ\0" + b"\0\0\0\0" + zlib.compress(text) + b"trailing")
