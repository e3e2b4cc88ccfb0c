#!/usr/bin/python3
"""Writes the font fixtures of the text tests into a folder (no package ships ".font" files).

  make_font_fixtures.py OUT

Bitmap fonts (".font" contents files and AmigaOS hunk size files):
  plain.font       sizes 8, 11, 8: fixed width, one plane, codes 65..90 (A..Z)
  prop.font        size 9: proportional with CharSpace and CharKern
  color.font       size 7: two planes, a four-colour palette, index 0 transparent
  corrupt.font     size 8: a glyph located past its plane row
  hugecolor.font   size 7: colour planes far larger than the file
  incomplete.font  size 8 listed only as "::incomplete"
  outline.font     a 0x0F03 contents file (no sizes)
sfnt faces (in OUT/faces):
  Pair.ttc         a collection of Vera.ttf and VeraBd.ttf
  NoEnglish.ttf    names only in a non-English Microsoft language
  LongName.ttf     a Macintosh family name of 300 characters
  a.ttf            a name too short to be scanned
"""
import os
import struct
import sys

OUT = sys.argv[1]
VERA = "/usr/share/fonts/truetype/ttf-bitstream-vera/"


def contents(name, entries, ident=0x0F00):
    data = struct.pack(">HH", ident, len(entries))
    for file_name, ysize in entries:
        raw = file_name.encode("latin-1")
        data += raw + b"\0" * (256 - len(raw)) + struct.pack(">HBB", ysize, 0, 0)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def size_file(path, ysize, xsize, baseline, lo, hi, modulo, plane, locs, space=None, kern=None,
              style=0, flags=0, color=None):
    """One-hunk file: data start at file offset 32; pointers count from there."""
    data = bytearray(512)
    data[0:4] = b"\x70\xff\x4e\x75"  # moveq #-1,d0; rts
    struct.pack_into(">H", data, 18, 0x0F80)  # file offset 50

    def put(blob):
        pos = len(data)
        data.extend(blob)
        while len(data) % 4:
            data.append(0)
        return pos

    tf = 78  # file offset 110
    plane_ptr = put(bytes(plane)) if plane is not None else 0
    loc_ptr = put(b"".join(struct.pack(">I", off << 16 | w) for off, w in locs))
    space_ptr = put(b"".join(struct.pack(">h", v) for v in space)) if space else 0
    kern_ptr = put(b"".join(struct.pack(">h", v) for v in kern)) if kern else 0
    struct.pack_into(">HBBHHHHBBIHIII", data, tf, ysize, style, flags, xsize, baseline, 1, 0, lo, hi,
                     plane_ptr, modulo, loc_ptr, space_ptr, kern_ptr)
    if color:
        depth, pick, planes, palette = color
        table = put(b"".join(struct.pack(">H", c) for c in palette))
        block = put(struct.pack(">HHI", 0, len(palette), table))
        struct.pack_into(">BxxxBBI", data, 112, depth, pick, 0, block)  # file offset 144
        for i, p in enumerate(planes):
            struct.pack_into(">I", data, 122 + 4 * i, put(bytes(p)))  # file offset 154
    hunk = struct.pack(">IIIIII", 0x3F3, 0, 1, 0, 0, len(data) // 4) + struct.pack(">II", 0x3E9, len(data) // 4)
    with open(path, "wb") as f:
        f.write(hunk + bytes(data) + struct.pack(">I", 0x3F2))


def glyph_plane(rows, modulo, shapes):
    """shapes: list of (bit offset, list of row bit strings)."""
    plane = bytearray(rows * modulo)
    for offset, bits in shapes:
        for r, line in enumerate(bits):
            for c, ch in enumerate(line):
                if ch == "#":
                    x = offset + c
                    plane[r * modulo + x // 8] |= 0x80 >> (x % 8)
    return plane


def bitmap_fonts():
    os.makedirs(os.path.join(OUT, "plain"), exist_ok=True)
    # plain: 27 glyphs (A..Z and the fall-back), 6 pixels apart, each a filled box of its index width
    locs = [(i * 6, 5) for i in range(27)]
    shapes = [(i * 6, ["#####"] * 8) for i in range(26)] + [(26 * 6, ["#...#"] * 8)]
    modulo = (27 * 6 + 7) // 8
    size_file(os.path.join(OUT, "plain", "8"), 8, 6, 6, 65, 90, modulo, glyph_plane(8, modulo, shapes), locs)
    size_file(os.path.join(OUT, "plain", "11"), 11, 6, 9, 65, 90, modulo,
              glyph_plane(11, modulo, [(o, (b * 2)[:11]) for o, b in shapes]), locs)
    contents("plain.font", [("plain/8", 8), ("plain/11", 11), ("plain/8", 8)])
    # prop: 3 glyphs (A, B, fall-back): widths 3, 5, 2; spaces 4, 7, 3; kerns 1, -1, 0
    os.makedirs(os.path.join(OUT, "prop"), exist_ok=True)
    size_file(os.path.join(OUT, "prop", "9"), 9, 8, 7, 65, 66, 2,
              glyph_plane(9, 2, [(0, ["###"] * 9), (3, ["#####"] * 9), (8, ["##"] * 9)]),
              [(0, 3), (3, 5), (8, 2)], space=[4, 7, 3], kern=[1, -1, 0], flags=0x20)
    contents("prop.font", [("prop/9", 9)])
    # color: 2 glyphs (A, fall-back) 4 wide; A's columns are colour indices 0, 1, 2, 3
    os.makedirs(os.path.join(OUT, "color"), exist_ok=True)
    p0 = glyph_plane(7, 1, [(0, [".#.#"] * 7)])
    p1 = glyph_plane(7, 1, [(0, ["..##"] * 7)])
    size_file(os.path.join(OUT, "color", "7"), 7, 4, 5, 65, 65, 1, None, [(0, 4), (4, 4)], style=0x40,
              color=(2, 3, [p0, p1], [0x000, 0xF00, 0x0F0, 0x00F]))
    contents("color.font", [("color/7", 7)])
    # hugecolor: a colour font whose planes (none stored) would span 65535 rows of 65535 bytes,
    # far more than its file holds
    os.makedirs(os.path.join(OUT, "hugecolor"), exist_ok=True)
    size_file(os.path.join(OUT, "hugecolor", "7"), 0xFFFF, 4, 5, 65, 65, 0xFFFF, None, [(0, 4), (4, 4)],
              style=0x40, color=(2, 0, [], [0x000, 0xF00]))
    contents("hugecolor.font", [("hugecolor/7", 7)])
    # corrupt: the second glyph lies past the 16-pixel plane row
    os.makedirs(os.path.join(OUT, "corrupt"), exist_ok=True)
    size_file(os.path.join(OUT, "corrupt", "8"), 8, 8, 6, 65, 65, 2, bytearray(16), [(0, 8), (12, 8)])
    contents("corrupt.font", [("corrupt/8", 8)])
    contents("incomplete.font", [("::incomplete", 8), ("plain/11", 11)])
    contents("outline.font", [], ident=0x0F03)


def read_tables(path):
    data = open(path, "rb").read()
    version, count = struct.unpack(">IH", data[:6])
    tables = []
    for i in range(count):
        tag, check, off, length = struct.unpack(">4sIII", data[12 + 16 * i:28 + 16 * i])
        tables.append((tag, check, data[off:off + length]))
    return version, tables


def sfnt(version, tables, base=0):
    """An offset table and directory for tables placed from base + header on."""
    count = len(tables)
    header = struct.pack(">IHHHH", version, count, 0, 0, 0)
    pos = base + 12 + 16 * count
    directory, blobs = b"", b""
    for tag, check, blob in tables:
        directory += struct.pack(">4sIII", tag, check, pos, len(blob))
        blob += b"\0" * (-len(blob) % 4)
        blobs += blob
        pos += len(blob)
    return header + directory, blobs


def name_table(records):
    """records: (platform, encoding, language, name id, bytes)."""
    storage = b""
    out = b""
    for platform, encoding, language, nid, raw in records:
        out += struct.pack(">HHHHHH", platform, encoding, language, nid, len(raw), len(storage))
        storage += raw
    return struct.pack(">HHH", 0, len(records), 6 + 12 * len(records)) + out + storage


def faces():
    folder = os.path.join(OUT, "faces")
    os.makedirs(folder, exist_ok=True)
    fonts = [read_tables(VERA + "Vera.ttf"), read_tables(VERA + "VeraBd.ttf")]
    header = struct.pack(">4sII", b"ttcf", 0x00010000, len(fonts))
    pos = len(header) + 4 * len(fonts)
    offsets, body = [], b""
    for version, tables in fonts:
        offsets.append(pos)
        head, blobs = sfnt(version, tables, pos)
        body += head + blobs
        pos += len(head) + len(blobs)
    with open(os.path.join(folder, "Pair.ttc"), "wb") as f:
        f.write(header + b"".join(struct.pack(">I", o) for o in offsets) + body)
    german = [(3, 1, 0x0407, 1, "Schrift".encode("utf-16-be")), (3, 1, 0x0407, 2, "Fett".encode("utf-16-be"))]
    head, blobs = sfnt(0x00010000, [(b"name", 0, name_table(german))])
    open(os.path.join(folder, "NoEnglish.ttf"), "wb").write(head + blobs)
    long_name = [(1, 0, 0, 1, b"L" * 300), (1, 0, 0, 2, b"Bold Italic")]
    head, blobs = sfnt(0x00010000, [(b"name", 0, name_table(long_name))])
    open(os.path.join(folder, "LongName.ttf"), "wb").write(head + blobs)
    open(os.path.join(folder, "a.ttf"), "wb").write(head + blobs)


os.makedirs(OUT, exist_ok=True)
bitmap_fonts()
faces()
