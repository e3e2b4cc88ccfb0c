#!/usr/bin/python3
"""Independent side of the picture tests: makes pictures with PIL and netpbm and decodes
pictures with PIL (or netpbm's ilbmtoppm), writing what they hold as reference files.

A reference file is b"QREF", width, height and an alpha flag (three little-endian u32), then
width x height RGBA bytes.

  image_peer.py fixtures DIR      pictures of every kind the readers take, each NAME.EXT with
                                  NAME.ref: the pixels that were encoded (lossless formats)
  image_peer.py codecs DIR        JPEG, TIFF and GIF pictures with PIL's decoding as NAME.ref
  image_peer.py ilbm DIR          ILBM pictures from ppmtoilbm with ilbmtoppm's decoding
  image_peer.py decode FILE REF   FILE as PIL (or ilbmtoppm for ILBM) decodes it
  image_peer.py big DIR           1920x1080 PNG, JPEG and BMP for the benchmark
"""
import io
import os
import struct
import subprocess
import sys

from PIL import Image


def write_ref(path, img, alpha):
    rgba = img.convert("RGBA")
    with open(path, "wb") as f:
        f.write(b"QREF" + struct.pack("<III", rgba.width, rgba.height, 1 if alpha else 0))
        f.write(rgba.tobytes())


def pattern(w, h, alpha=False):
    img = Image.new("RGBA" if alpha else "RGB", (w, h))
    px = img.load()
    for y in range(h):
        for x in range(w):
            c = ((x * 7 + y * 3) & 255, (x * y) & 255, ((x ^ y) * 5) & 255)
            px[x, y] = c + (((x * 11 + y * 13) & 255),) if alpha else c
    return img


def few_colours(w, h, n):
    """A palette picture using n colours."""
    img = Image.new("P", (w, h))
    pal = []
    for i in range(256):
        pal += [(i * 37) & 255, (i * 91 + 17) & 255, (i * 53 + 100) & 255]
    img.putpalette(pal)
    px = img.load()
    for y in range(h):
        for x in range(w):
            px[x, y] = (x + 3 * y + (x * y) // 5) % n
    return img


def netpbm(cmd, data):
    return subprocess.run(cmd, input=data, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout


def ppm_bytes(img):
    buf = io.BytesIO()
    img.convert("RGB").save(buf, "PPM")
    return buf.getvalue()


def fixtures(d):
    os.makedirs(d, exist_ok=True)

    def save(name, img, ref, alpha, **kw):
        img.save(os.path.join(d, name), **kw)
        write_ref(os.path.join(d, os.path.splitext(name)[0] + ".ref"), ref, alpha)

    # PNG: every colour type, depths 1 to 16, tRNS, interlacing.
    rgb = pattern(37, 23)
    rgba = pattern(37, 23, True)
    save("rgb8.png", rgb, rgb, False)
    save("rgb8_interlaced.png", rgb, rgb, False, interlace=1)
    save("rgba8.png", rgba, rgba, True)
    save("rgba8_interlaced.png", rgba, rgba, True, interlace=1)
    pal = few_colours(29, 17, 200)
    save("palette8.png", pal, pal, False)
    pal4 = few_colours(29, 17, 16)
    save("palette4.png", pal4, pal4, False, bits=4)
    trns = few_colours(29, 17, 12)
    trns.info["transparency"] = bytes([0, 128, 255, 7] + [255] * 8)
    save("palette_trns.png", trns, trns.convert("RGBA"), True, transparency=bytes([0, 128, 255, 7] + [255] * 8))
    grey = rgb.convert("L")
    save("grey8.png", grey, grey, False)
    bw = rgb.convert("1")
    save("grey1.png", bw, bw, False)
    la = rgba.convert("LA")
    save("grey_alpha.png", la, la, True)
    # 16-bit grey: PIL keeps it as 32-bit integers, so the file is written from values whose
    # high byte is the reference.
    g16 = Image.new("I;16", (19, 11))
    ref16 = Image.new("L", (19, 11))
    for y in range(11):
        for x in range(19):
            v = (x * 13 + y * 29) & 255
            g16.putpixel((x, y), v * 256 + ((x * y) & 255))
            ref16.putpixel((x, y), v)
    g16.save(os.path.join(d, "grey16.png"))
    write_ref(os.path.join(d, "grey16.ref"), ref16, False)

    # BMP from netpbm's ppmtobmp at each depth; odd widths so that rows need padding.
    for bpp, n, w in ((1, 2, 9), (4, 16, 13), (8, 200, 31), (24, 0, 27)):
        img = pattern(w, 7) if n == 0 else few_colours(w, 7, n).convert("RGB")
        name = "bmp%d" % bpp
        with open(os.path.join(d, name + ".bmp"), "wb") as f:
            f.write(netpbm(["ppmtobmp", "-bpp", str(bpp)], ppm_bytes(img)))
        write_ref(os.path.join(d, name + ".ref"), img, False)
    # PIL writes 8-bit BMPs with a 40-byte header too, and 1-bit ones from mode "1".
    save("pil_p8.bmp", pal, pal, False)


def codecs(d):
    """Pictures for the platform decoder, each with PIL's decoding as NAME.ref."""
    os.makedirs(d, exist_ok=True)
    rgb = pattern(45, 31)
    rgba = pattern(45, 31, True)

    def jpeg(name, img, **kw):
        path = os.path.join(d, name)
        img.save(path, "JPEG", **kw)
        decode(path, os.path.splitext(path)[0] + ".ref")

    jpeg("rgb.jpg", rgb, quality=92)
    jpeg("grey.jpg", rgb.convert("L"), quality=80)
    jpeg("progressive.jpg", rgb, quality=75, progressive=True)
    jpeg("subsampled.jpg", rgb, quality=60, subsampling=2)
    jpeg("cmyk.jpg", rgb.convert("CMYK"), quality=95)

    def lossless(name, img, **kw):
        path = os.path.join(d, name)
        img.save(path, **kw)
        decode(path, os.path.splitext(path)[0] + ".ref")

    lossless("rgb_raw.tif", rgb)
    lossless("rgb_lzw.tif", rgb, compression="tiff_lzw")
    lossless("rgba.tif", rgba)
    lossless("grey_raw.tif", rgb.convert("L"))
    pal = few_colours(33, 21, 60)
    lossless("palette.tif", pal)
    # Big-endian TIFF through netpbm.
    with open(os.path.join(d, "bigendian.tif"), "wb") as f:
        f.write(netpbm(["pnmtotiff", "-msb2lsb"], ppm_bytes(rgb)))
    decode(os.path.join(d, "bigendian.tif"), os.path.join(d, "bigendian.ref"))
    lossless("plain.gif", pal, interlace=False)
    lossless("interlaced.gif", pal, interlace=True)
    lossless("transparent.gif", few_colours(33, 21, 30), transparency=5)
    # An animation: the first picture counts.
    frames = [few_colours(33, 21, 8), rgb.convert("P")]
    frames[0].save(os.path.join(d, "anim.gif"), save_all=True, append_images=frames[1:], duration=100, loop=0)
    decode(os.path.join(d, "anim.gif"), os.path.join(d, "anim.ref"))
    lossless("png_rgb.png", rgb)
    lossless("png_rgba.png", rgba)
    lossless("png_palette.png", pal, transparency=3)


def ilbm(d):
    """ILBM pictures from netpbm's ppmtoilbm, each with ilbmtoppm's decoding as NAME.ref."""
    os.makedirs(d, exist_ok=True)
    rgb = pattern(37, 13)
    pbm = "P1\n37 13\n" + "\n".join(" ".join("1" if (x + y) % 3 else "0" for x in range(37)) for y in range(13))
    with open(os.path.join(d, "mask.pbm"), "w") as f:
        f.write(pbm + "\n")
    variants = (
        ("colors16", few_colours(37, 13, 16), []),
        ("colors16_raw", few_colours(37, 13, 16), ["-nocompress"]),
        ("colors2", few_colours(37, 13, 2), []),
        ("colors200", few_colours(37, 13, 200), ["-maxplanes", "8"]),
        ("deep", rgb, ["-24force"]),
        ("deep_raw", rgb, ["-24force", "-nocompress"]),
        ("masked", few_colours(37, 13, 16), ["-maskfile", os.path.join(d, "mask.pbm")]),
        ("ham6", rgb, ["-ham6"]),
        ("ham8", rgb, ["-ham8"]),
        ("wide", pattern(300, 3), ["-24force"]),
    )
    for name, img, opts in variants:
        path = os.path.join(d, name + ".ilbm")
        with open(path, "wb") as f:
            f.write(netpbm(["ppmtoilbm"] + opts, ppm_bytes(img)))
        decode(path, os.path.join(d, name + ".ref"))


def decode(path, ref):
    with open(path, "rb") as f:
        head = f.read(12)
    if head[:4] == b"FORM" and head[8:12] == b"ILBM":
        with open(path, "rb") as f:
            img = Image.open(io.BytesIO(netpbm(["ilbmtoppm"], f.read())))
        write_ref(ref, img, False)
        return
    img = Image.open(path)
    img.seek(0)
    alpha = img.mode in ("RGBA", "LA", "PA") or "transparency" in img.info
    if img.mode in ("I;16", "I;16B", "I"):
        img = img.point(lambda v: v / 256).convert("L")
    write_ref(ref, img, alpha)


def big(d):
    os.makedirs(d, exist_ok=True)
    img = Image.new("RGB", (1920, 1080))
    # A photograph-like picture: smooth gradients with fine detail, so that every encoder
    # has real work to do.
    base = Image.linear_gradient("L").resize((1920, 1080))
    noise = Image.effect_noise((1920, 1080), 40)
    img = Image.merge("RGB", (base, noise, base.transpose(Image.FLIP_LEFT_RIGHT)))
    img.save(os.path.join(d, "big.png"))
    img.save(os.path.join(d, "big.jpg"), quality=90)
    img.save(os.path.join(d, "big.bmp"))


if __name__ == "__main__":
    cmd = sys.argv[1]
    if cmd == "fixtures":
        fixtures(sys.argv[2])
    elif cmd == "codecs":
        codecs(sys.argv[2])
    elif cmd == "ilbm":
        ilbm(sys.argv[2])
    elif cmd == "decode":
        decode(sys.argv[2], sys.argv[3])
    elif cmd == "big":
        big(sys.argv[2])
    else:
        sys.exit("unknown command " + cmd)
