#!/usr/bin/env python3
"""Writes golden/string_python.txt: what python3 gives for FormatStr conversions (the %
operator, which follows the C formatter), MD5Str (hashlib), CRC32Str (zlib.crc32) and Latin-1
case folding (str.lower/str.upper where the result is one Latin-1 character).
Run from this folder: python3 string_golden.py

Line formats (fields split by tabs; texts hex-encoded so any byte survives):
  F <format hex> <args> <result hex>   args: n:<number> or s:<hex>, joined by ','
  M <hex bytes> <md5 digest>
  C <hex bytes> <crc32 as decimal>
  L <256 bytes of the lower-case mapping, hex>  /  U <the same for upper case>
"""
import hashlib
import zlib


def int32(v):
    # The player's double-to-int32 rule: truncate; NaN and out of range give INT32_MIN.
    return int(v) if -2147483649.0 < v < 2147483648.0 else -2147483648


def uint32(v):
    # Negative values wrap through int32; the rest are clamped to 4294967295.
    return int32(v) & 0xFFFFFFFF if v < 0 else min(int(v), 0xFFFFFFFF)


def format_one(conv, arg):
    letter = conv[-1]
    if letter in "eEfgG":
        return conv % float(arg)
    if letter in "dic":
        v = int32(arg)
        return (conv[:-1] + "c") % chr(v & 255) if letter == "c" else (conv[:-1] + "d") % v
    if letter in "ouxX":
        return conv % uint32(arg)
    text = arg if isinstance(arg, bytes) else ("%.14g" % arg).encode()
    if len(text) >= 100 and "." not in conv:
        return text  # long texts are copied whole, without the width
    return (conv.encode() % text)


def format_str(fmt, args):
    out, i, k = b"", 0, 0
    while i < len(fmt):
        if fmt[i] != "%":
            out += fmt[i].encode("latin-1")
            i += 1
        elif fmt[i + 1] == "%":
            out += b"%"
            i += 2
        else:
            j = i + 1
            while fmt[j] not in "eEfgGdicouxXs":
                j += 1
            piece = format_one(fmt[i:j + 1], args[k])
            out += piece if isinstance(piece, bytes) else piece.encode("latin-1")
            k += 1
            i = j + 1
    return out


FORMATS = [
    ("%5.2f|%-3d|", [3.14159, 7]),
    ("%d %i %d %d", [3.99, -3.99, 2147483647, -2147483648]),
    ("%d|%d", [3e9, -3e9]),
    ("[%c][%5c][%-3c]", [65, 66, 67]),
    ("%x %X %#x %08X %o %#X", [255, 255, 255, 3735928559, 8, 48879]),
    ("%u %x %u %x", [4294967295, -1, 5e9, -1.5]),
    ("%e|%.3e|%E|%12.4e", [12345.678, 0.000123456, 1e100, -2.5]),
    ("%g|%g|%G|%g|%.3g|%#g", [0.0001, 1e20, 1e-10, 100000, 3.14159, 2.0]),
    ("%10.4f|%-10.2f|%+.1f|% f|%#.0f|%010.3f", [3.14159, 2.5, 3.0, 1.5, 3.0, -3.14159]),
    ("%.0f %.0f %.0f %.1f", [2.5, 3.5, -0.5, 0.05]),
    ("%99.2f|%.99f", [1.0, 0.1]),
    ("%f", [1e300]),
    ("%s|%5s|%-5s|%.2s|%5.1s|", [b"abc", b"ab", b"ab", b"abcdef", b"xyz"]),
    ("%s %s %s", [7, 7.5, 1e20]),
    ("%99s|%.99s|%99s|", [b"x" * 110, b"y" * 110, b"z" * 98]),
    ("%5s|", [b"z" * 99]),
    ("x=%d y=%s z=%.1f 100%%", [1, b"two", 3.0]),
    ("caf\xe9 %s", [b"\xc4\xd6"]),
    ("%-+ #012.3e|%+05d|% 05d", [1.5, 42, 42]),
]

MD5_CRC = [b"a", b"abc", b"message digest", b"\x00", b"\x00\x00\x00\x00", bytes(range(256)),
           b"The quick brown fox jumps over the lazy dog", "Gr\u00fc\u00dfe".encode("latin-1"),
           bytes((i * 7 + 3) & 255 for i in range(1000)), b"123456789"]


def case_map(method):
    out = bytearray()
    for b in range(256):
        m = getattr(chr(b), method)()
        out.append(ord(m) if len(m) == 1 and ord(m) < 256 else b)
    return bytes(out)


def args_text(args):
    return ",".join(("s:" + a.hex()) if isinstance(a, bytes) else ("n:%r" % float(a)) for a in args)


with open("golden/string_python.txt", "w") as out:
    for fmt, args in FORMATS:
        out.write("F\t%s\t%s\t%s\n" % (fmt.encode("latin-1").hex(), args_text(args), format_str(fmt, args).hex()))
    for data in MD5_CRC:
        out.write("M\t%s\t%s\n" % (data.hex(), hashlib.md5(data).hexdigest()))
        out.write("C\t%s\t%d\n" % (data.hex(), zlib.crc32(data)))
    out.write("L\t%s\n" % case_map("lower").hex())
    out.write("U\t%s\n" % case_map("upper").hex())
