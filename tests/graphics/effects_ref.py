#!/usr/bin/env python3
"""Independent reference of the image-effect, warp, colour and fill kernels, written from their
formulas step by step in plain Python doubles (the same IEEE arithmetic and libm as the player).

Usage: effects_ref.py INPUT OUTPUT
INPUT lines: the operation and its numbers; width and height; the pixels as 0xRRGGBB integers;
optionally a second line of numbers (alpha plane, or what the operation names).
OUTPUT: the resulting integers, whitespace separated."""
import math
import sys

SQRT2PI = 2.5066282746310002


def trunc(v):
    return int(v)


def clamp(v):
    if v < 0:
        return 0
    if v > 255:
        return 255
    return int(v)


def channels(c):
    return [(c >> 16) & 255, (c >> 8) & 255, c & 255]


def rgb(r, g, b):
    return (r << 16) | (g << 8) | b


def gauss_width_1d(radius, sigma):
    if radius > 0:
        return 2 * math.ceil(radius) + 1
    if abs(sigma) <= 1e-10:
        return 1
    w = 5
    while True:
        j = w // 2
        normalize = 0.0
        for i in range(-j, j + 1):
            normalize += math.exp(-float(i * i) / (2.0 * sigma * sigma)) / (SQRT2PI * sigma)
        value = math.exp(-float(j * j) / (2.0 * sigma * sigma)) / (SQRT2PI * sigma) / normalize
        if trunc(value * 255) < 1:
            return w - 2
        w += 2


def gauss_width_2d(radius, sigma):
    if radius > 0:
        return 2 * math.ceil(radius) + 1
    w = 5
    while True:
        j = w // 2
        normalize = 0.0
        for v in range(-j, j + 1):
            for u in range(-j, j + 1):
                normalize += math.exp(-float(u * u + v * v) / (2.0 * sigma * sigma)) / (2.0 * math.pi * sigma * sigma)
        if math.exp(-float(j * j) / (2.0 * sigma * sigma)) / (SQRT2PI * sigma) / normalize < 0.00392156862745098:
            return w - 2
        w += 2


def at(plane, w, h, x, y):
    """Edge pixels repeat outside the picture (the padded copy)."""
    x = min(max(x, 0), w - 1)
    y = min(max(y, 0), h - 1)
    return plane[y * w + x]


def blur(px, alpha, w, h, radius, sigma):
    if abs(sigma) <= 1e-10:
        return px, alpha
    kw = gauss_width_1d(radius, sigma)
    kernel = [0.0] * kw
    bias = (3 * kw) // 2
    for i in range(-bias, bias + 1):
        kernel[(i + bias) // 3] += math.exp(-float(i * i) / (18.0 * sigma * sigma)) / (SQRT2PI * sigma)
    total = 0.0
    for k in kernel:
        total += k
    kernel = [k / total for k in kernel]
    half = kw // 2

    def passes(get, put_plane, vals_of, pack):
        src = list(put_plane)
        out = list(put_plane)
        for y in range(h):
            for x in range(w):
                sums = None
                for k in range(kw):
                    vals = vals_of(get(src, x, y, k - half))
                    sums = [kernel[k] * v for v in vals] if sums is None else [s + kernel[k] * v for s, v in zip(sums, vals)]
                out[y * w + x] = pack([clamp(s) for s in sums])
        return out

    horiz = lambda plane, x, y, d: at(plane, w, h, x + d, y)
    vert = lambda plane, x, y, d: at(plane, w, h, x, y + d)
    pack3 = lambda c: rgb(*c)
    # The first product starts the sum: 0.0 + p equals p, so this is the same sum from 0.
    px = passes(horiz, px, channels, pack3)
    px = passes(vert, px, channels, pack3)
    if alpha is not None:
        alpha = passes(horiz, alpha, lambda a: [a], lambda c: c[0])
        alpha = passes(vert, alpha, lambda a: [a], lambda c: c[0])
    return px, alpha


def convolve2d(px, w, h, op, radius, sigma):
    kw = gauss_width_1d(radius, 0.5) if op == 'edge' else gauss_width_2d(radius, sigma)
    if kw > w or kw > h:
        return px
    j = kw // 2
    s = 1.0 if abs(sigma) <= 1e-10 else sigma
    kernel = [[0.0] * kw for _ in range(kw)]
    if op == 'edge':
        kernel = [[-1.0] * kw for _ in range(kw)]
        kernel[j][j] = float(kw * kw - 1)
    elif op == 'sharpen':
        normalize = 0.0
        for v in range(-j, j + 1):
            for u in range(-j, j + 1):
                e = -(math.exp(-float(u * u + v * v) / (2.0 * s * s)) / (2.0 * math.pi * s * s))
                kernel[v + j][u + j] = e
                normalize += e
        kernel[j][j] = -2.0 * normalize
    else:
        k = j
        for v in range(-j, j + 1):
            for u in range(-j, j + 1):
                e = math.exp(-float(u * u + v * v) / (2.0 * s * s)) / (2.0 * math.pi * s * s)
                e = e * (-8.0 if (u < 0 or v < 0) else 8.0)
                kernel[v + j][u + j] = e if u == k else 0.0
            k -= 1
    total = 0.0
    for row in kernel:
        for e in row:
            total += e
    if abs(total) > 1e-10:
        kernel = [[e / total for e in row] for row in kernel]
    out = []
    for y in range(h):
        for x in range(w):
            sums = [0.0, 0.0, 0.0]
            for v in range(kw):
                for u in range(kw):
                    c = channels(at(px, w, h, x + u - j, y + v - j))
                    sums = [sm + kernel[v][u] * cv for sm, cv in zip(sums, c)]
            out.append(rgb(*[clamp(sm) for sm in sums]))
    return out


def intensity(c):
    r, g, b = channels(c)
    return 0.299 * r + 0.587 * g + 0.114 * b


def solarize(px, t):
    return [rgb(*[255 - v if v > t else v for v in channels(c)]) for c in px]


def contrast(px, sign):
    out = []
    for c in px:
        r, g, b = [float(v) for v in channels(c)]
        mx, mn = max(r, g, b), min(r, g, b)
        hue = sat = br = 0.0
        if mx != 0:
            br = mx / 255.0
            sat = (mx - mn) / mx
            delta = mx - mn
            if delta != 0:
                if r == mx:
                    hue = (g - b) / delta
                elif g == mx:
                    hue = 2.0 + (b - r) / delta
                else:
                    hue = 4.0 + (r - g) / delta
                hue /= 6.0
                if hue < 0:
                    hue += 1.0
        br += 0.5 * sign * (0.5 * (math.sin(math.pi * (br - 0.5)) + 1.0) - br)
        br = min(max(br, 0.0), 1.0)
        if sat == 0:
            v = clamp(br * 255.0)
            out.append(rgb(v, v, v))
            continue
        hh = 6.0 * (hue - math.floor(hue))
        f = hh - math.floor(hh)
        p = br * (1.0 - sat)
        q = br * (1.0 - sat * f)
        t = br * (1.0 - sat * (1.0 - f))
        rr, gg, bb = [(br, t, p), (q, br, p), (p, br, t), (p, q, br), (t, p, br), (br, p, q)][int(hh)]
        out.append(rgb(clamp(rr * 255.0), clamp(gg * 255.0), clamp(bb * 255.0)))
    return out


def rgb_to_hsl(r, g, b):
    r, g, b = r * 0.00392156862745098, g * 0.00392156862745098, b * 0.00392156862745098
    mx, mn = max(r, g, b), min(r, g, b)
    l = (mx + mn) / 2.0
    if mx == mn:
        return 0.0, 0.0, l
    delta = mx - mn
    s = delta / (mx + mn) if l < 0.5 else delta / (2.0 - mx - mn)
    d = lambda c: (mx - c) / 6.0 + delta / 2.0
    if r == mx:
        h = (d(b) - d(g)) / delta
    elif g == mx:
        h = 1.0 / 3.0 + (d(r) - d(b)) / delta
    else:
        h = 2.0 / 3.0 + (d(g) - d(r)) / delta
    if h < 0:
        h += 1.0
    if h > 1:
        h -= 1.0
    return h, s, l


def modulate(px, bp, sp, hp):
    out = []
    for c in px:
        h, s, l = rgb_to_hsl(*channels(c))
        h += 0.5 * (hp * 0.01 - 1.0)
        while h < 0:
            h += 1.0
        while h > 1:
            h -= 1.0
        s *= sp * 0.01
        l *= bp * 0.01
        if s == 0:
            v = clamp(l * 255.0)
            out.append(rgb(v, v, v))
            continue
        m2 = l * (1.0 + s) if l <= 0.5 else l + s - l * s
        m1 = 2.0 * l - m2

        def ch(hh):
            if hh < 0:
                hh += 1.0
            elif hh > 1:
                hh -= 1.0
            if 6.0 * hh < 1.0:
                return m1 + (m2 - m1) * 6.0 * hh
            if 2.0 * hh < 1.0:
                return m2
            if 3.0 * hh < 2.0:
                return m1 + (m2 - m1) * 6.0 * (2.0 / 3.0 - hh)
            return m1
        out.append(rgb(clamp(ch(h + 1.0 / 3.0) * 255.0), clamp(ch(h) * 255.0), clamp(ch(h - 1.0 / 3.0) * 255.0)))
    return out


def sepia(px, t):
    out = []
    for c in px:
        i = intensity(c)
        r = clamp(255.0 if i > t else i + 255.0 - t)
        g = clamp(255.0 if i > 7.0 * t / 6.0 else i + 255.0 - 7.0 * t / 6.0)
        b = clamp(0.0 if i < t / 6.0 else i - t / 6.0)
        low = clamp(t / 7.0)
        out.append(rgb(r, max(g, low), max(b, low)))
    return out


def level_stretch(px, black, white):
    hist = [0] * 256
    for c in px:
        hist[trunc(intensity(c))] += 1
    low, high, run = 256, -1, 0
    for i in range(256):
        run += hist[i]
        if run > black:
            low = i
            break
    run = 0
    for i in range(255, -1, -1):
        run += hist[i]
        if run > len(px) - white:
            high = i
            break
    high = max(high, 0)
    if low == high:
        return px
    m = [0 if i < low else 255 if i > high else (i - low) * 255 // (high - low) for i in range(256)]
    return [rgb(*[m[v] for v in channels(c)]) for c in px]


def oil_paint(px, w, h, radius):
    kw = gauss_width_2d(radius, 0.5)
    j = kw // 2
    out = []
    for y in range(h):
        for x in range(w):
            hist = [0] * 256
            best, chosen = 0, 0
            for v in range(kw):
                for u in range(kw):
                    c = at(px, w, h, x + u - j, y + v - j)
                    k = trunc(intensity(c))
                    hist[k] += 1
                    if hist[k] > best:
                        best, chosen = hist[k], c
            out.append(chosen)
    return out


def yuv(planes, w, h):
    ys, us, vs = planes
    out = []
    for y in range(h):
        for x in range(w):
            Y = ys[y * w + x]
            U = us[(y >> 1) * ((w + 1) >> 1) + (x >> 1)]
            V = vs[(y >> 1) * ((w + 1) >> 1) + (x >> 1)]

            def div(n, d):  # toward zero
                q = abs(n) // d
                return q if n >= 0 else -q
            r = div(1904000 * Y + 2609823 * V - 363703744, 1635200)
            g = div(3827562 * Y - 1287801 * U - 2672387 * V + 447306710, 3287200)
            b = div(952000 * Y + 1649289 * U - 225932192, 817600)
            out.append(rgb(*[min(max(v, 0), 255) for v in (r, g, b)]))
    return out


def isqrt(n):
    return -1 if n < 0 else math.isqrt(n)


def tables():
    sine, cosine, x = [], [], 0.0
    for _ in range(6300):
        sine.append(math.sin(x))
        cosine.append(math.cos(x))
        x += 0.001
    return sine, cosine


def limit(v, size):
    t = trunc(v) if v == v else 0
    return min(max(t, 0), size - 1)


def swirl_map(w, h, degrees):
    sine, cosine = tables()
    ang = (720 - degrees if degrees > 359 else degrees) * 0.017453292519943295
    r = max(w / 2.0, h / 2.0)
    xs, ys = (float(h) / float(w), 1.0) if w <= h else (1.0, float(w) / float(h))
    out = []
    for y in range(h):
        for x in range(w):
            dx = xs * (x - w / 2.0)
            dy = ys * (y - h / 2.0)
            sx, sy = x, y
            if dx * dx + dy * dy < r * r:
                f = 1.0 - isqrt(trunc(dx * dx + dy * dy)) / r
                a = ang * f * f
                if degrees >= 0:
                    i = trunc(a / 0.001)
                    i = 0 if i < 0 else 6299 if i >= 6300 else i
                    sn, cs = sine[i], cosine[i]
                else:
                    sn, cs = math.sin(a), math.cos(a)
                sx = limit((dx * cs - dy * sn) / xs + w / 2.0, w)
                sy = limit((dx * sn + dy * cs) / ys + h / 2.0, h)
            out.append(sy * w + sx)
    return out


def ripple_map(w, h, waves, step, wavelength, cx, cy, maxd, level):
    sine, _ = tables()
    n = max(waves, 1)
    amplitude = (level if level < n else 2 * n - level) * step
    out = []
    for y in range(h):
        for x in range(w):
            dx, dy = x - cx, y - cy
            d = isqrt(dx * dx + dy * dy)
            phase = d / wavelength * 6.28318530717959 - level
            while phase < 0:
                phase += 6.28318530717959
            while phase > 6.28318530717959:
                phase -= 6.28318530717959
            s = sine[trunc(phase / 0.001)]
            k = amplitude * s * (maxd - d) / maxd
            if d != 0:
                k *= wavelength / d
            out.append(limit(y + dy * k, h) * w + limit(x + dx * k, w))
    return out


def water_ripple_map(w, h, waves, amplitude, level, fx, fy):
    """A picture rippled once: the wave count is the wavelength, the amplitude is used as given,
    the level is the phase, and the waves die out at the larger centre coordinate."""
    sine, _ = tables()
    wavelength = max(waves, 1)
    fraction = lambda f: min(max(f, 0.0), 1.0) if f == f else 0.0
    cx, cy = trunc(fraction(fx) * w), trunc(fraction(fy) * h)
    maxd = max(cx, cy)
    two_pi = 6.28318530717959
    out = []
    for y in range(h):
        for x in range(w):
            dx, dy = x - cx, y - cy
            d = isqrt(dx * dx + dy * dy)
            phase = d / wavelength * two_pi - level
            while phase < 0:
                phase += two_pi
            while phase > two_pi:
                phase -= two_pi
            s = sine[min(trunc(phase / 0.001), 6299)]
            k = amplitude * s * (maxd - d) / maxd if maxd > 0 else 0.0
            if d != 0:
                k *= wavelength / d
            out.append(limit(y + dy * k, h) * w + limit(x + dx * k, w))
    return out


def flood(px, w, h, x0, y0, boundary, fill):
    """The boundary fill exactly as the recursive description reads, on the whole picture."""
    sys.setrecursionlimit(100000)
    px = list(px)

    def run(x, y):
        if x < 0 or px[y * w + x] == boundary:
            return
        xl = x
        while True:
            px[y * w + xl] = fill
            if xl - 1 >= 0 and px[y * w + xl - 1] != boundary:
                xl -= 1
            else:
                break
        xr = x
        xx = x + 1
        while xx < w and px[y * w + xx] != boundary:
            px[y * w + xx] = fill
            xr = xx
            xx += 1
        for ny in ([y - 1] if y > 0 else []) + ([y + 1] if y < h - 1 else []):
            inrun = False
            for xx in range(xl, xr + 1):
                v = px[ny * w + xx]
                if v == fill or v == boundary:
                    inrun = False
                elif not inrun:
                    inrun = True
                    run(xx, ny)
                    # the call may have filled this pixel: the run ends there
                    if px[ny * w + xx] == fill:
                        inrun = False
    run(x0, y0)
    return px


def distort(method, params, w, h):
    """Result size, origin and the source position (u, v) and validity of every result pixel."""
    from fractions import Fraction
    PI = 3.141592653589793
    EPS = 1e-6
    n = len(params)
    c = [0.0] * 10
    pts = []

    def rnd(v):  # half away from zero
        return math.floor(v + 0.5) if v >= 0 else -math.floor(-v + 0.5)
    if method == 4:
        if n != 16:
            return [1055]
        # exact least squares in rationals, then to doubles
        A = [[Fraction(0)] * 9 for _ in range(8)]
        for i in range(4):
            u, v, x, y = [Fraction(t) for t in params[4 * i:4 * i + 4]]
            for row in ([x, y, 1, 0, 0, 0, -x * u, -y * u, u], [0, 0, 0, x, y, 1, -x * v, -y * v, v]):
                for a in range(8):
                    for b in range(9):
                        A[a][b] += row[a] * row[b]
        for col in range(8):
            piv = next((r for r in range(col, 8) if A[r][col] != 0), None)
            if piv is None:
                return [1055]
            A[col], A[piv] = A[piv], A[col]
            d = A[col][col]
            A[col] = [t / d for t in A[col]]
            for r in range(8):
                if r != col and A[r][col] != 0:
                    f = A[r][col]
                    A[r] = [a - f * b for a, b in zip(A[r], A[col])]
        cf = [A[i][8] for i in range(8)]
        c[:8] = [float(t) for t in cf]
        q = c[6] * params[2] + c[7] * params[3] + 1
        c[8] = -1.0 if q < 0 else 1.0
        k = 1 / (cf[0] * cf[4] - cf[1] * cf[3])
        f = [(cf[4] - cf[7] * cf[5]) * k, (cf[7] * cf[2] - cf[1]) * k, (cf[1] * cf[5] - cf[4] * cf[2]) * k,
             (cf[6] * cf[5] - cf[3]) * k, (cf[0] - cf[6] * cf[2]) * k, (cf[3] * cf[2] - cf[0] * cf[5]) * k,
             (cf[3] * cf[7] - cf[6] * cf[4]) * k, (cf[6] * cf[1] - cf[0] * cf[7]) * k]
        for u, v in ((0, 0), (w, 0), (0, h), (w, h)):
            d = f[6] * u + f[7] * v + 1
            if abs(d) <= EPS:
                d = 1
            pts.append((float((f[0] * u + f[1] * v + f[2]) / d), float((f[3] * u + f[4] * v + f[5]) / d)))
    elif method == 9:
        if n < 1 or n > 4 or params[0] < EPS or (n >= 3 and params[2] < EPS):
            return [1055]
        c[0] = -PI / 2 + (params[1] * PI / 180 if n >= 2 else 0)
        c[1] = params[0] * PI / 180
        c[0] -= 2 * PI * rnd(c[0] / (2 * PI))
        c[3] = h - 1
        c[2] = w / c[1] + (h - 1) / 2
        if n == 3:
            c[3] = (params[2] / c[2]) * c[3]
            c[2] = params[2]
        if n >= 4:
            c[3] = params[2] - params[3]
            c[2] = params[2]
        c[4] = (w - 1) / 2
        a0, a1 = c[0] - c[1] / 2, c[0] + c[1] / 2
        for a in (a0, a1):
            pts.append((c[2] * math.cos(a), c[2] * math.sin(a)))
            pts.append(((c[2] - c[3]) * math.cos(a), (c[2] - c[3]) * math.sin(a)))
        k = math.ceil(a0 / (PI / 2))
        while k * (PI / 2) < a1:
            a = k * (PI / 2)
            if a > a0:
                pts.append((c[2] * math.cos(a), c[2] * math.sin(a)))
            k += 1
        c[1] = 2 * PI * w / c[1]
        c[3] = h / c[3]
    elif method == 10:
        if n == 3 or n > 6:
            return [1055]
        p = params
        c[0] = p[0] if n >= 1 else 0.0
        c[1] = p[1] if n >= 2 else 0.0
        c[2], c[3] = (p[2], p[3]) if n >= 4 else (w / 2, h / 2)
        c[4] = p[4] * PI / 180 if n >= 5 else -PI
        c[5] = p[5] * PI / 180 if n >= 6 else c[4]
        if abs(c[4] - c[5]) < EPS:
            c[5] += 2 * PI
        if c[0] < EPS:
            if abs(c[0]) < EPS:
                c[0] = min(abs(c[3]), abs(c[2]), abs(c[2] - w), abs(c[3] - h))
            elif abs(c[0] + 1) < EPS:
                c[0] = max(math.hypot(c[2] - x, c[3] - y) for x, y in ((0, 0), (w, 0), (0, h), (w, h)))
            if c[0] < EPS:
                return [1055]
        if c[1] < -EPS or c[0] - c[1] < EPS:
            return [1055]
        c[6] = w / (c[5] - c[4])
        c[7] = h / (c[0] - c[1])
        if n < 2:
            c[2] = c[3] = 0.0
        pts = [(c[2] - c[0], c[3] - c[0]), (c[2] + c[0], c[3] + c[0])]
    else:
        if n not in (4, 6, 8, 10):
            return [1055]
        s = 2 / min(w, h)
        p = params
        c[0:4] = [p[0] * s * s * s, p[1] * s * s, p[2] * s, p[3]]
        c[4:8] = [p[4] * s * s * s, p[5] * s * s, p[6] * s, p[7]] if n >= 8 else c[0:4]
        c[8], c[9] = (w - 1) / 2, (h - 1) / 2
        if n == 6:
            c[8], c[9] = p[4], p[5]
        if n == 10:
            c[8], c[9] = p[8], p[9]
    if method == 12:
        ox, oy, rw, rh = 0, 0, w, h
    else:
        ox = math.floor(min(x for x, _ in pts) - 0.5)
        oy = math.floor(min(y for _, y in pts) - 0.5)
        rw = math.ceil(max(x for x, _ in pts) - ox + 0.5)
        rh = math.ceil(max(y for _, y in pts) - oy + 0.5)
    out = [0, rw, rh, ox, oy]
    for j in range(rh):
        for i in range(rw):
            x, y = ox + i + 0.5, oy + j + 0.5
            valid = 1.0
            if method == 4:
                q = c[6] * x + c[7] * y + 1
                valid = 1.0 if q * c[8] >= 0 else 0.0
                m = c[6] if abs(c[6]) >= abs(c[7]) else c[7]
                if 2 * abs(q) < abs(m):
                    valid = 0.5 - q * c[8] / m
                u = (c[0] * x + c[1] * y + c[2]) / q
                v = (c[3] * x + c[4] * y + c[5]) / q
            elif method == 9:
                t = (math.atan2(y, x) - c[0]) / (2 * PI)
                t -= rnd(t)
                u = t * c[1] + c[4] + 0.5
                v = (c[2] - math.hypot(x, y)) * c[3]
            elif method == 10:
                t = (math.atan2(x - c[2], y - c[3]) - (c[4] + c[5]) / 2) / (2 * PI)
                t -= rnd(t)
                u = t * 2 * PI * c[6] + w / 2
                v = (math.hypot(x - c[2], y - c[3]) - c[1]) * c[7]
            else:
                dx, dy = x - c[8], y - c[9]
                r = math.sqrt(dx * dx + dy * dy)
                if r <= EPS:
                    u, v = c[8], c[9]
                else:
                    fx = ((c[0] * r + c[1]) * r + c[2]) * r + c[3]
                    fy = ((c[4] * r + c[5]) * r + c[6]) * r + c[7]
                    u, v = fx * dx + c[8], fy * dy + c[9]
            out += [u - 0.5, v - 0.5, valid]
    return out


def main():
    with open(sys.argv[1]) as f:
        lines = f.read().split('\n')
    head = lines[0].split()
    op, args = head[0], [float(a) for a in head[1:]]
    w, h = [int(v) for v in lines[1].split()] if len(lines) > 1 and lines[1] else (0, 0)
    px = [int(v) for v in lines[2].split()] if len(lines) > 2 else []
    extra = [int(v) for v in lines[3].split()] if len(lines) > 3 and lines[3].strip() else None
    if op == 'widths':
        result = [gauss_width_1d(args[0], args[1]), gauss_width_2d(args[0], args[1])]
    elif op == 'blur':
        px, extra = blur(px, extra, w, h, args[0], args[1])
        result = px + (extra or [])
    elif op in ('emboss', 'edge', 'sharpen'):
        result = convolve2d(px, w, h, op, args[0], args[1])
    elif op == 'solarize':
        result = solarize(px, args[0])
    elif op == 'contrast':
        result = contrast(px, args[0])
    elif op == 'modulate':
        result = modulate(px, args[0], args[1], args[2])
    elif op == 'sepia':
        result = sepia(px, args[0])
    elif op == 'levels':
        result = level_stretch(px, args[0], args[1])
    elif op == 'oilpaint':
        result = oil_paint(px, w, h, args[0])
    elif op == 'yuv':
        ys = px
        cw = (w + 1) >> 1
        ch = (h + 1) >> 1
        result = yuv((ys, extra[:cw * ch], extra[cw * ch:]), w, h)
    elif op == 'swirl':
        result = swirl_map(w, h, int(args[0]))
    elif op == 'ripple':
        result = ripple_map(w, h, int(args[0]), args[1], args[2], int(args[3]), int(args[4]), int(args[5]), int(args[6]))
    elif op == 'waterripple':
        result = water_ripple_map(w, h, int(args[0]), args[1], args[2], args[3], args[4])
    elif op == 'sepiatone':
        n = w * h
        result = contrast(level_stretch(sepia(px, args[0]), 0.02 * n, 0.99 * n), 1)
    elif op == 'charcoal':
        n = w * h
        radius, sigma = args[0], args[1]
        if not radius > 0:
            radius, sigma = 0.0, 1.0
        g = [rgb(*[trunc(intensity(c))] * 3) for c in px]
        g = convolve2d(g, w, h, 'edge', radius, sigma)
        g, _ = blur(g, None, w, h, radius, sigma)
        g = level_stretch(g, 0.02 * n, 0.99 * n)
        g = [c ^ 0xFFFFFF for c in g]
        result = [rgb(*[trunc(intensity(c))] * 3) for c in g]
    elif op == 'distort':
        result = distort(int(args[0]), args[1:], w, h)
    elif op == 'flood':
        result = flood(px, w, h, int(args[0]), int(args[1]), int(args[2]), int(args[3]))
    else:
        raise SystemExit('unknown operation ' + op)
    with open(sys.argv[2], 'w') as f:
        f.write(' '.join(repr(v) for v in result) + '\n')


main()
