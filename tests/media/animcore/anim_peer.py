#!/usr/bin/python3
"""Independent side of the anim codec tests: decodes GIFs with PIL, makes GIF fixtures with PIL
and by hand, and makes IFF ANIM fixtures with the frames they must show.

A frames file is b"QANM", width, height, count (three little-endian u32), then per frame
width x height RGBA bytes.

  anim_peer.py gif-frames OUT GIF...   every frame of each GIF as PIL composes it: OUT/NAME.frames
  anim_peer.py gifs DIR                GIFs written by PIL (NAME.gif) with their source frames
                                       (NAME.frames, alpha 0 where a frame leaves the screen alone)
  anim_peer.py hostile DIR             hand-made GIFs the reader must survive (see make_hostile)
  anim_peer.py big-gif DIR             a 640 x 480 GIF of 100 frames for the benchmark (DIR/big.gif)
  anim_peer.py iff DIR                 IFF ANIM files (NAME.anim) with the frames they hold
                                       (NAME.frames) and their delays in jiffies (NAME.delays)
  anim_peer.py strip DIR               DIR/strip.gif: 3 frames of 8 x 6, frame i LEFT[i] in
                                       columns 0..3 and RIGHT[i] in 4..7, shown 100, 200 and 300 ms;
                                       DIR/one.gif: its first frame alone
  anim_peer.py gif-delays GIF          each frame's delay in ms as PIL reads it, one a line
"""
import os
import struct
import sys

from PIL import Image


def write_frames(path, w, h, frames):
    with open(path, "wb") as f:
        f.write(b"QANM" + struct.pack("<III", w, h, len(frames)))
        for fr in frames:
            assert len(fr) == w * h * 4
            f.write(fr)


# ---- GIF ----

def gif_frames(out, files):
    os.makedirs(out, exist_ok=True)
    for path in files:
        im = Image.open(path)
        frames = []
        for i in range(getattr(im, "n_frames", 1)):
            im.seek(i)
            frames.append(im.convert("RGBA").tobytes())
        name = os.path.splitext(os.path.basename(path))[0]
        write_frames(os.path.join(out, name + ".frames"), im.width, im.height, frames)


def palette_image(w, h, colours, fn):
    img = Image.new("P", (w, h))
    flat = []
    for c in colours:
        flat += list(c)
    img.putpalette(flat + [0] * (768 - len(flat)))
    img.putdata([fn(x, y) for y in range(h) for x in range(w)])
    return img


def gifs(d):
    os.makedirs(d, exist_ok=True)
    # Full frames, each with many colours: every frame is a key frame; PIL interlaces them.
    w, h = 53, 31
    cols = [((i * 37) & 255, (i * 91 + 17) & 255, (i * 53 + 100) & 255) for i in range(256)]
    frames = [palette_image(w, h, cols, lambda x, y, k=k: (x * 3 + y * 7 + k * 11 + (x * y >> 3)) & 255)
              for k in range(8)]
    frames[0].save(os.path.join(d, "full.gif"), save_all=True, append_images=frames[1:], duration=[10 * k + 20 for k in range(8)],
                   loop=0, optimize=False, interlace=True)
    write_frames(os.path.join(d, "full.frames"), w, h, [f.convert("RGBA").tobytes() for f in frames])
    # Frames of 4 colours with a changing small picture: PIL writes the changed rectangles,
    # some frames without interlace.
    w, h = 40, 24
    small = [(0, 0, 0), (255, 0, 0), (0, 200, 50), (10, 20, 250)]
    frames = [palette_image(w, h, small, lambda x, y, k=k: 1 + ((x // 4 + y // 3 + k) % 3) if 5 + k <= x < 15 + 2 * k and y >= k else 0)
              for k in range(10)]
    frames[0].save(os.path.join(d, "boxes.gif"), save_all=True, append_images=frames[1:], duration=40, loop=0,
                   optimize=False, interlace=False)
    write_frames(os.path.join(d, "boxes.frames"), w, h, [f.convert("RGBA").tobytes() for f in frames])


STRIP_LEFT = [0xF80000, 0x00FC00, 0x0000F8]
STRIP_RIGHT = [0xF8F800, 0x808080, 0xF800F8]


def strip(d):
    os.makedirs(d, exist_ok=True)
    frames = []
    for i in range(3):
        im = Image.new("RGB", (8, 6))
        for y in range(6):
            for x in range(8):
                c = STRIP_LEFT[i] if x < 4 else STRIP_RIGHT[i]
                im.putpixel((x, y), (c >> 16 & 255, c >> 8 & 255, c & 255))
        frames.append(im)
    frames[0].save(os.path.join(d, "strip.gif"), save_all=True, append_images=frames[1:], duration=[100, 200, 300],
                   loop=0, optimize=False)
    frames[0].save(os.path.join(d, "one.gif"))


def gif_delays(path):
    im = Image.open(path)
    for i in range(getattr(im, "n_frames", 1)):
        im.seek(i)
        print(im.info.get("duration", 0))


def big_gif(d):
    os.makedirs(d, exist_ok=True)
    w, h = 640, 480
    base = Image.linear_gradient("L").resize((w, h))
    noise = Image.effect_noise((w, h), 50)
    first = Image.merge("RGB", (base, noise, base.transpose(Image.FLIP_LEFT_RIGHT))).quantize(255)
    frames = [first]
    # Moving boxes of fresh noise over the first picture: PIL writes the changed rectangles.
    for k in range(1, 100):
        img = frames[-1].copy()
        box = Image.effect_noise((160, 120), 80).convert("RGB").quantize(palette=first)
        img.paste(box, ((k * 37) % (w - 160), (k * 23) % (h - 120)))
        frames.append(img)
    frames[0].save(os.path.join(d, "big.gif"), save_all=True, append_images=frames[1:], duration=40, loop=0)


class Lzw:
    """A plain LZW code writer for fixtures: a clear code before every few pixels keeps the
    table small, so the code width never grows."""

    def __init__(self, min_size):
        self.min = min_size
        self.bits = 0
        self.count = 0
        self.out = bytearray()

    def code(self, c, width=None):
        self.bits |= c << self.count
        self.count += width or (self.min + 1)
        while self.count >= 8:
            self.out.append(self.bits & 255)
            self.bits >>= 8
            self.count -= 8

    def pixels(self, values, end=True):
        clear = 1 << self.min
        for i, v in enumerate(values):
            if i % ((1 << self.min) - 2 or 1) == 0:
                self.code(clear)
            self.code(v)
        if end:
            self.code(clear + 1)
        return self

    def data(self):
        out = bytes(self.out) + (bytes([self.bits & 255]) if self.count else b"")
        blocks = bytes([self.min])
        for i in range(0, len(out), 255):
            blocks += bytes([len(out[i:i + 255])]) + out[i:i + 255]
        return blocks + b"\0"


def gif_head(w, h, colours, background=0):
    n = 1
    while (2 << (n - 1)) < len(colours):
        n += 1
    table = b"".join(bytes(c) for c in colours) + b"\0" * (3 * ((2 << (n - 1)) - len(colours)))
    return b"GIF89a" + struct.pack("<HHBBB", w, h, 0x80 | (n - 1), background, 0) + table


def gce(disposal=0, transparent=None, delay=0):
    packed = disposal << 2 | (1 if transparent is not None else 0)
    return b"\x21\xF9\x04" + struct.pack("<BHB", packed, delay, transparent or 0) + b"\0"


def image(left, top, w, h, data, packed=0):
    return b"\x2C" + struct.pack("<HHHHB", left, top, w, h, packed) + data


def make_hostile(d):
    """Each NAME.gif; the test holds what each must give."""
    os.makedirs(d, exist_ok=True)
    pal = [(0, 0, 0), (255, 255, 255), (255, 0, 0), (0, 0, 255)]
    files = {}
    # A 4 x 4 screen; a 4 x 4 frame at (2, 2) paints only the 2 x 2 corner that is on it.
    vals = [(x + y) % 4 for y in range(4) for x in range(4)]
    files["oversize"] = gif_head(4, 4, pal) + image(0, 0, 4, 4, Lzw(2).pixels([0] * 16).data()) + \
        image(2, 2, 4, 4, Lzw(2).pixels(vals).data()) + b"\x3B"
    # A frame entirely off the screen.
    files["offscreen"] = gif_head(4, 4, pal) + image(0, 0, 4, 4, Lzw(2).pixels([1] * 16).data()) + \
        image(9, 9, 3, 3, Lzw(2).pixels([2] * 9).data()) + b"\x3B"
    good = image(0, 0, 4, 4, Lzw(2).pixels([1] * 16).data())
    # Frame 1 is broken in several ways; frames 0 and 2 are fine.
    bad_code = bytes([2, 2, 0x7C, 0xFF, 0])  # clear, then a code far above the table
    files["badcode"] = gif_head(4, 4, pal) + good + image(0, 0, 4, 4, bad_code) + good + b"\x3B"
    files["shortdata"] = gif_head(4, 4, pal) + good + image(0, 0, 4, 4, Lzw(2).pixels([2] * 7, end=False).data()) + \
        good + b"\x3B"
    # A string code straight after the clear code, before any root code: nothing to extend.
    files["rootless"] = gif_head(4, 4, pal) + good + image(0, 0, 4, 4, bytes([2, 1, 0x34, 0])) + good + b"\x3B"
    # More pixels than the frame holds: the rest is dropped, the frame stands.
    files["overlong"] = gif_head(4, 4, pal) + good + image(0, 0, 4, 4, Lzw(2).pixels([2] * 23).data()) + b"\x3B"
    files["bigmincode"] = gif_head(4, 4, pal) + good + image(0, 0, 4, 4, bytes([9, 1, 0, 0])) + good + b"\x3B"
    # Ends inside the first image's data: nothing opens.
    files["truncated"] = (gif_head(4, 4, pal) + good)[:-12]
    files["noframes"] = gif_head(4, 4, pal) + b"\x3B"
    files["zeroscreen"] = gif_head(0, 4, pal) + good + b"\x3B"
    # Disposal 2 without a transparent index clears to the background colour (red here);
    # disposal 3 puts back what the frame covered.
    files["dispose2"] = gif_head(4, 4, pal, background=2) + gce(disposal=2) + good + \
        image(0, 0, 1, 1, Lzw(2).pixels([3]).data()) + b"\x3B"
    files["dispose3"] = gif_head(4, 4, pal) + good + gce(disposal=3) + \
        image(1, 1, 2, 2, Lzw(2).pixels([2] * 4).data()) + image(0, 0, 1, 1, Lzw(2).pixels([3]).data()) + b"\x3B"
    # A frame of the screen's size placed one column right covers no more than the rest of
    # the screen: it cannot start a decode on its own.
    files["shifted"] = gif_head(4, 4, pal) + good + image(1, 0, 4, 4, Lzw(2).pixels([2] * 16).data()) + \
        image(0, 0, 1, 1, Lzw(2).pixels([3]).data()) + b"\x3B"
    # A frame of width 0 carries no pixels and no harm.
    # Three full frames of one colour each.
    files["three"] = gif_head(4, 4, pal) + b"".join(image(0, 0, 4, 4, Lzw(2).pixels([c] * 16).data()) for c in (1, 2, 3)) + \
        b"\x3B"
    files["emptyframe"] = gif_head(4, 4, pal) + good + image(1, 1, 0, 3, Lzw(2).pixels([]).data()) + b"\x3B"
    for name, data in files.items():
        with open(os.path.join(d, name + ".gif"), "wb") as f:
            f.write(data)


# ---- IFF ANIM ----

def chunk(cid, data):
    return cid + struct.pack(">I", len(data)) + data + (b"\0" if len(data) & 1 else b"")


def row_bytes(w):
    return ((w + 15) >> 4) * 2


def to_planes(idx, w, h, depth):
    """Index rows to planes: plane p is h rows of row_bytes bytes, most significant bit first."""
    rb = row_bytes(w)
    planes = []
    for p in range(depth):
        plane = bytearray(rb * h)
        for y in range(h):
            for x in range(w):
                if idx[y * w + x] >> p & 1:
                    plane[y * rb + (x >> 3)] |= 0x80 >> (x & 7)
        planes.append(plane)
    return planes


def byterun1(row):
    out = bytearray()
    i = 0
    while i < len(row):
        j = i
        while j < len(row) and j - i < 128 and row[j] == row[i]:
            j += 1
        if j - i >= 3:
            out += bytes([(257 - (j - i)) & 255, row[i]])
            i = j
            continue
        j = i
        while j < len(row) and j - i < 128 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i - 1]) + bytes(row[i:j])
        i = j
    return bytes(out)


def body(planes, w, h, compression):
    rb = row_bytes(w)
    out = bytearray()
    for y in range(h):
        for p in planes:
            row = p[y * rb:(y + 1) * rb]
            out += byterun1(row) if compression else row
    return bytes(out)


def column_ops(old, new, rb, h, col, xor):
    """Op-5 ops of one byte column: skips over equal bytes, runs of one value, literals."""
    ops = []
    y = 0
    while y < h:
        if old[y * rb + col] == new[y * rb + col]:
            n = 0
            while y < h and n < 127 and old[y * rb + col] == new[y * rb + col]:
                y += 1
                n += 1
            if y < h:  # a skip to the end needs no op
                ops.append(bytes([n]))
            continue
        vals = []
        while y < h and len(vals) < 127 and old[y * rb + col] != new[y * rb + col]:
            vals.append(new[y * rb + col] ^ old[y * rb + col] if xor else new[y * rb + col])
            y += 1
        if len(vals) >= 3 and len(set(vals)) == 1:
            ops.append(bytes([0, len(vals), vals[0]]))
        else:
            ops.append(bytes([0x80 | len(vals)]) + bytes(vals))
    assert len(ops) < 256
    return bytes([len(ops)]) + b"".join(ops)


def dlta(old_planes, new_planes, w, h, xor):
    rb = row_bytes(w)
    data = bytearray(64)
    for p, (old, new) in enumerate(zip(old_planes, new_planes)):
        if old == new:
            continue
        struct.pack_into(">I", data, 4 * p, len(data))
        for col in range(rb):
            data += column_ops(old, new, rb, h, col, xor)
    return bytes(data)


def anhd(op=5, reltime=0, interleave=0):
    return struct.pack(">BBHHHHIIBBI16x", op, 0, 0, 0, 0, 0, 0, reltime, interleave, 0, 0)


def bmhd(w, h, depth, compression, masking=0):
    return struct.pack(">HHhhBBBBHBBhh", w, h, 0, 0, depth, masking, compression, 0, 0, 10, 11, w, h)


def argb_of(idx, pal, w, h, mode):
    """RGBA bytes of index rows: a palette lookup, or HAM6 or HAM8 from black at each row start."""
    out = bytearray()
    for y in range(h):
        r = g = b = 0
        for x in range(w):
            c = idx[y * w + x]
            if mode == "ham6":
                k, v = c >> 4, c & 15
                if k == 0:
                    r, g, b = pal[v]
                elif k == 1:
                    b = v << 4
                elif k == 2:
                    r = v << 4
                else:
                    g = v << 4
                out += bytes([r, g, b, 255])
            elif mode == "ham8":
                k, v = c >> 6, c & 63
                if k == 0:
                    r, g, b = pal[v]
                elif k == 1:
                    b = v << 2
                elif k == 2:
                    r = v << 2
                else:
                    g = v << 2
                out += bytes([r, g, b, 255])
            else:
                out += bytes(list(pal[c]) + [255])
    return bytes(out)


def make_anim(w, h, depth, frames, pal, compression=1, dpan=None, delays=None, camg=None, cmaps=None,
              interleave=0, xor=False, first_size=None, ops=None, cmap_first=True, raw_dltas=None):
    """frames: index arrays. cmaps: {frame: palette} for CMAP chunks in delta FORMs.
    ops: {frame: operation number}. raw_dltas: {frame: bytes} replaces a computed DLTA."""
    delays = delays or [0] * len(frames)
    planes = [to_planes(f, w, h, depth) for f in frames]
    cm = chunk(b"CMAP", b"".join(bytes(c) for c in pal))
    ilbm = chunk(b"BMHD", bmhd(w, h, depth, compression))
    if camg is not None and not cmap_first:
        ilbm += chunk(b"CAMG", struct.pack(">I", camg))
    ilbm += cm
    if camg is not None and cmap_first:
        ilbm += chunk(b"CAMG", struct.pack(">I", camg))
    if dpan is not None:
        ilbm += chunk(b"DPAN", struct.pack(">HHI", 4, dpan, 0))
    ilbm += chunk(b"ANHD", anhd(reltime=delays[0]))
    ilbm += chunk(b"BODY", body(planes[0], w, h, compression))
    first = b"FORM" + struct.pack(">I", first_size if first_size is not None else len(ilbm) + 4) + b"ILBM" + ilbm
    out = first
    # The two buffers a reader keeps: each delta is made against the frame it overwrites.
    buffers = [planes[0], planes[0]]
    nxt = 0
    for k in range(1, len(frames)):
        d = raw_dltas.get(k) if raw_dltas else None
        if d is None:
            d = dlta(buffers[nxt], planes[k], w, h, xor)
        buffers[nxt] = planes[k]
        if interleave == 0:
            nxt ^= 1
        form = chunk(b"ANHD", anhd(op=(ops or {}).get(k, 5), reltime=delays[k], interleave=interleave))
        if cmaps and k in cmaps:
            form += chunk(b"CMAP", b"".join(bytes(c) for c in cmaps[k]))
        form += chunk(b"DLTA", d)
        out += b"FORM" + struct.pack(">I", len(form) + 4) + b"ILBM" + form
    return b"FORM" + struct.pack(">I", len(out) + 4) + b"ANIM" + out


def pattern(w, h, k, colours):
    return [((x // 3) * 5 + (y // 2) * 3 + k * (1 + (x + y) % 3) + (x * y % 7 if k % 2 else 0)) % colours
            if (x + k) % 11 < 8 else (k * 3) % colours for y in range(h) for x in range(w)]


def iff(d):
    os.makedirs(d, exist_ok=True)

    def save(name, data, w, h, expected, delays=None):
        with open(os.path.join(d, name + ".anim"), "wb") as f:
            f.write(data)
        if expected is not None:
            write_frames(os.path.join(d, name + ".frames"), w, h, expected)
        with open(os.path.join(d, name + ".delays"), "w") as f:
            f.write(" ".join(str(v) for v in (delays or [])))

    def pal_of(n, seed):
        return [((i * 41 + seed) & 255, (i * 97 + 3 * seed) & 255, (i * 13 + 200 + seed) & 255) for i in range(n)]

    # Two frames, packed body, DPAN, width not a multiple of 16.
    w, h = 20, 7
    pal = pal_of(16, 1)
    frames = [pattern(w, h, k, 16) for k in range(2)]
    save("two", make_anim(w, h, 4, frames, pal, dpan=2, delays=[3, 7]), w, h,
         [argb_of(f, pal, w, h, "") for f in frames], [3, 7])

    # Ten frames, plain body, no DPAN; a colour map change at frame 6 holds from there on.
    w, h = 37, 12
    pal = pal_of(32, 2)
    pal6 = pal_of(32, 77)
    frames = [pattern(w, h, k, 32) for k in range(10)]
    delays = [k * 2 + 1 for k in range(10)]
    expected = [argb_of(f, pal if k < 6 else pal6, w, h, "") for k, f in enumerate(frames)]
    ten = make_anim(w, h, 5, frames, pal, compression=0, delays=delays, cmaps={6: pal6})
    save("ten", ten, w, h, expected, delays)
    # The same with DPAN.
    save("ten_dpan", make_anim(w, h, 5, frames, pal, compression=0, delays=delays, cmaps={6: pal6}, dpan=10),
         w, h, expected, delays)
    # The first FORM's size too small, and covering the rest of the file: the FORM after its
    # BODY is the second frame either way.
    small = make_anim(w, h, 5, frames, pal, compression=0, delays=delays, cmaps={6: pal6}, first_size=4)
    save("first_small", small, w, h, expected, delays)
    big = make_anim(w, h, 5, frames, pal, compression=0, delays=delays, cmaps={6: pal6}, first_size=len(ten) - 20)
    save("first_big", big, w, h, expected, delays)
    # Deltas combined by XOR (interleave 1: each delta against the frame before).
    save("xor", make_anim(w, h, 5, frames, pal, delays=delays, cmaps={6: pal6}, interleave=1, xor=True),
         w, h, expected, delays)
    # Frame 3 is an operation-7 delta: frames 0-2 load, frame 3 does not.
    save("op7", make_anim(w, h, 5, frames[:5], pal, ops={3: 7}), w, h, expected[:5])

    # Extra half-brite: 32 colours in the map make 64, with CAMG before and after CMAP.
    w, h = 16, 8
    pal = pal_of(32, 5)
    full = pal + [(r >> 1, g >> 1, b >> 1) for r, g, b in pal]
    frames = [[(x * 4 + y * 9 + k * 13) % 64 for y in range(h) for x in range(w)] for k in range(3)]
    for name, first in (("ehb", True), ("ehb_camg_first", False)):
        save(name, make_anim(w, h, 6, frames, pal, camg=0x80, cmap_first=first), w, h,
             [argb_of(f, full, w, h, "") for f in frames])

    # HAM6: rows of modify codes from a 16-colour base.
    pal = pal_of(16, 9)
    frames = [[(x * 7 + y * 5 + k * 3) % 64 for y in range(h) for x in range(w)] for k in range(3)]
    save("ham6", make_anim(w, h, 6, frames, pal, camg=0x800), w, h, [argb_of(f, pal, w, h, "ham6") for f in frames])
    # HAM8: 64 base colours, modify codes in the top two bits.
    pal = pal_of(64, 11)
    frames = [[(x * 29 + y * 11 + k * 7) % 256 for y in range(h) for x in range(w)] for k in range(3)]
    save("ham8", make_anim(w, h, 8, frames, pal, camg=0x800), w, h, [argb_of(f, pal, w, h, "ham8") for f in frames])

    # A colour map of 300 entries is cut to 256; a DPAN of 5000 frames to the 3 present.
    pal = pal_of(300, 4)
    frames = [[(x * 31 + y * 17 + k) % 256 for y in range(h) for x in range(w)] for k in range(3)]
    save("bigmap", make_anim(w, h, 8, frames, pal, dpan=5000), w, h, [argb_of(f, pal, w, h, "") for f in frames])

    # Deltas that reach outside their chunk or their plane: the frame fails, the others load.
    w, h = 16, 4
    pal = pal_of(4, 3)
    frames = [pattern(w, h, k, 4) for k in range(3)]

    def raw(plane0):
        d = bytearray(64)
        struct.pack_into(">I", d, 0, 64)
        return bytes(d) + plane0

    rb = row_bytes(w)
    hostile = {
        "offset_out": bytes(struct.pack(">I", 5000)) + bytes(60),
        "offset_in_table": bytes(struct.pack(">I", 8)) + bytes(60),
        "literal_past_plane": raw(bytes([1, 0x80 | 5]) + bytes(5) + bytes([0] * (rb - 1))),
        "run_past_plane": raw(bytes([1, 0, 9, 0xAA]) + bytes([0] * (rb - 1))),
        "skip_then_write_past": raw(bytes([2, 3, 0x82, 1, 2]) + bytes([0] * (rb - 1))),
        "ops_past_chunk": raw(bytes([40, 0x81])),
        "short_chunk": bytes(20),
    }
    for name, d2 in hostile.items():
        save("bad_" + name, make_anim(w, h, 2, frames, pal, raw_dltas={2: d2}), w, h,
             [argb_of(f, pal, w, h, "") for f in frames])
    # A skip to the last row and a write there is fine.
    fine = raw(bytes([2, 3, 0x81, 0xFF]) + bytes([0] * (rb - 1)))
    # frame 2 is made against frame 0 (two back); only column 0's last row changes there.
    base = to_planes(frames[0], w, h, 2)
    base[0][3 * rb] = 0xFF
    exp2 = [0] * (w * h)
    for y in range(h):
        for x in range(w):
            v = 0
            for p in range(2):
                if base[p][y * rb + (x >> 3)] & (0x80 >> (x & 7)):
                    v |= 1 << p
            exp2[y * w + x] = v
    save("skip_to_last_row", make_anim(w, h, 2, frames, pal, raw_dltas={2: fine}), w, h,
         [argb_of(frames[0], pal, w, h, ""), argb_of(frames[1], pal, w, h, ""), argb_of(exp2, pal, w, h, "")])

    # No delta FORM after the first frame: no anim. A chunk other than FORM after it without
    # DPAN: no anim either.
    only = make_anim(w, h, 2, frames[:1], pal)
    save("only_first", only, w, h, None)
    save("junk_after", make_anim(w, h, 2, frames[:2], pal)[:] + chunk(b"JUNK", b"1234"), w, h, None)


def main():
    cmd = sys.argv[1]
    if cmd == "gif-frames":
        gif_frames(sys.argv[2], sys.argv[3:])
    elif cmd == "gifs":
        gifs(sys.argv[2])
    elif cmd == "hostile":
        make_hostile(sys.argv[2])
    elif cmd == "big-gif":
        big_gif(sys.argv[2])
    elif cmd == "iff":
        iff(sys.argv[2])
    elif cmd == "strip":
        strip(sys.argv[2])
    elif cmd == "gif-delays":
        gif_delays(sys.argv[2])
    else:
        sys.exit("unknown command " + cmd)


if __name__ == "__main__":
    main()
