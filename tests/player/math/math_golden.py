#!/usr/bin/env python3
"""Writes math_golden.txt: math commands with their arguments and python3's results.

One row per case: NAME|ULPS|ARGS|RESULTS, numbers as float.hex(). RESULTS is either the
results separated by spaces or "!" and the error code. ULPS is how many units in the last
place the result may differ: python3's math uses the same libm for everything but hypot,
which it computes itself and which may differ in the last bit.

Rows whose python3 call raises (domain and range errors: Sqrt(-1), Ln(0), Exp(1000)...) are
left out; the C++ test covers those by hand. Integer commands are computed on python
integers by the formulas the library documents.
"""
import math
import os

INT32_MIN = -2**31
ERR_ZERODIVISION = 1089
ERR_WRONGUSAGE = 1055


def toint32(d):
    """Truncation toward zero; NaN and values outside the signed 32-bit range: INT32_MIN."""
    if d == d and -2147483649.0 < d < 2147483648.0:
        return int(d)
    return INT32_MIN


def touint32(d):
    if d >= 0:
        return 0xFFFFFFFF if d >= 4294967295.0 else int(d)
    return toint32(d) & 0xFFFFFFFF


def signed32(u):
    return u - 2**32 if u & 0x80000000 else u


def signed_zero(r, x):
    """python3's ceil and floor give integers; libm keeps the sign of a zero result."""
    return math.copysign(0.0, x) if r == 0 else float(r)


class Err(Exception):
    def __init__(self, code):
        self.code = code


def mod(a, b):
    if b == 0:
        raise Err(ERR_ZERODIVISION)
    return math.fmod(a, b)


def div(a, b):
    if b == 0:
        raise Err(ERR_ZERODIVISION)
    return a / b


def rt(x, n):
    if n == 0:
        raise Err(ERR_ZERODIVISION)
    if n < 0:
        raise Err(ERR_WRONGUSAGE)
    return math.pow(x, 1.0 / n)


def round32(x):
    if not math.isfinite(x):
        return INT32_MIN
    return toint32(float(round(x)))


def wrap(x, lo, hi):
    if x < lo:
        return x - lo + hi
    if x >= hi:
        return x - hi + lo
    return x


def limit(x, lo, hi):
    if x < lo:
        return lo
    if hi < x:
        return hi
    return x


def sgn(x):
    return -1.0 if x < 0 else 1.0 if x > 0 else 0.0


def minmax(smaller):
    def f(*args):
        r = args[0]
        for v in args[1:]:
            if (v < r) if smaller else (v > r):
                r = v
        return r
    return f


def bit(op):
    def f(x, n):
        x, n = touint32(x), toint32(n)
        if not 0 <= n <= 31:
            raise Err(ERR_WRONGUSAGE)
        b = 1 << n
        return {'set': x | b, 'clear': x & ~b & 0xFFFFFFFF, 'test': 1 if x & b else 0}[op]
    return f


def rotate(right):
    def f(x, n, width=1.0):
        x, n, width = touint32(x), toint32(n), toint32(width)
        c = n & 0xFFFFFFFF
        if width == 1:
            c &= 31
            if right:
                return ((x >> c) | (x << (32 - c))) & 0xFFFFFFFF
            return ((x << c) | (x >> (32 - c))) & 0xFFFFFFFF
        if width == 6:
            bits, mask = 16, 0xFFFF
        elif width == 7:
            bits, mask = 8, 0xFF
        else:
            raise Err(ERR_WRONGUSAGE)
        v = x & mask
        back = (bits - c) & 31  # each shift count taken modulo 32
        c &= 31
        if right:
            r = (v >> c) | ((v << back) & 0xFFFFFFFF)
        else:
            r = ((v << c) & 0xFFFFFFFF) | (v >> back)
        return r & mask
    return f


def cast(x, s, width):
    x, s, width = touint32(x), toint32(s) != 0, toint32(width)
    if width == 1:
        return signed32(x) if s else x
    if width == 6:
        v = x & 0xFFFF
        return v - 0x10000 if s and v & 0x8000 else v
    if width == 7:
        v = x & 0xFF
        return v - 0x100 if s and v & 0x80 else v
    raise Err(ERR_WRONGUSAGE)


COMMANDS = {
    'Abs': math.fabs, 'Sin': math.sin, 'Cos': math.cos, 'Tan': math.tan,
    'ASin': math.asin, 'ACos': math.acos, 'ATan': math.atan, 'ATan2': math.atan2,
    'Ceil': lambda x: signed_zero(math.ceil(x), x), 'Floor': lambda x: signed_zero(math.floor(x), x),
    'Mod': mod, 'FrExp': math.frexp, 'LdExp': lambda x, e: math.ldexp(x, toint32(e)),
    'Sqrt': math.sqrt, 'Min': minmax(True), 'Max': minmax(False),
    'Log': lambda x, b: math.log10(x) / math.log10(b),
    'Ld': lambda x: math.log10(x) / math.log10(2.0), 'Ln': math.log, 'Exp': math.exp,
    'Pow': math.pow, 'Deg': lambda x: x / 0.017453292519943295,
    'Rad': lambda x: x * 0.017453292519943295,
    'Add': lambda a, b: a + b, 'Sub': lambda a, b: a - b, 'Mul': lambda a, b: a * b,
    'Div': div, 'Round': round32, 'Int': toint32, 'Frac': lambda x: math.modf(x)[0],
    'Shr': lambda x, n: touint32(x) >> (toint32(n) & 31),
    'Shl': lambda x, n: (touint32(x) << (toint32(n) & 31)) & 0xFFFFFFFF,
    'Sar': lambda x, n: signed32(touint32(x)) >> (toint32(n) & 31),
    'Rt': rt, 'Wrap': wrap, 'Limit': limit,
    'BitSet': bit('set'), 'BitClear': bit('clear'), 'BitTest': bit('test'),
    'BitXor': lambda a, b: touint32(a) ^ touint32(b),
    'BitComplement': lambda x: ~touint32(x) & 0xFFFFFFFF,
    'Sgn': sgn, 'Ror': rotate(True), 'Rol': rotate(False), 'Cast': cast, 'Hypot': math.hypot,
}

inf, nan = math.inf, math.nan
REALS = [0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 2.0, 2.5, -2.5, 3.5, 0.1, 1e-300, 5e-324, 1e300,
         math.pi, -math.pi / 3, 100.25, 1e10, -7.75, 2147483647.5, 2147483648.0, -2147483648.5,
         4294967296.0, 3e9, -3e9, 709.0, 0.999999, inf, -inf, nan]
PAIRS = [(7.0, 2.0), (-7.0, 2.0), (7.0, -2.0), (7.5, 0.0), (0.0, 0.0), (1.0, -0.0), (2.0, 10.0),
         (8.0, 3.0), (8.0, -3.0), (-8.0, 3.0), (1e300, 1e300), (3.0, 4.0), (-1.5, 0.25),
         (5.0, 2.9), (100.0, 10.0), (0.5, 1e-300), (1e-300, 1e-300), (2.0, 0.5), (inf, 2.0),
         (2.0, inf), (nan, 1.0), (1.0, nan), (-1.0, 0.5), (6.0, 31.0), (6.0, 32.0), (6.0, -1.0),
         (3e9, 4.0), (-16.0, 2.0), (-1.0, 28.0), (1.0, 31.0), (5.0, 2.0), (0.0, 32.0)]
BITS = [0.0, 1.0, 5.0, 128.0, 255.0, 0x8000, 0xFFFF, 0x12345678, 0x80000000, 4294967295.0,
        4294967296.0, -1.0, -16.0, -129.0, -2147483648.0, 3.9, -3.9, nan]
COUNTS = [0.0, 1.0, 2.0, 4.0, 7.0, 8.0, 9.0, 15.0, 16.0, 17.0, 31.0, 32.0, 33.0, -1.0, -17.0,
          2.9, 1e10, nan]
WIDTHS = [1.0, 6.0, 7.0, 5.0, 0.0, 6.9]


def row(name, args, ulps=0):
    try:
        r = COMMANDS[name](*args)
    except Err as e:
        res = '!%d' % e.code
    except (ValueError, OverflowError, ZeroDivisionError):
        return None
    else:
        res = ' '.join(float(v).hex() for v in (r if isinstance(r, tuple) else (r,)))
    return '%s|%d|%s|%s' % (name, ulps, ' '.join(float(a).hex() for a in args), res)


def rows():
    unary = ['Abs', 'Sin', 'Cos', 'Tan', 'ASin', 'ACos', 'ATan', 'Ceil', 'Floor', 'FrExp',
             'Sqrt', 'Ld', 'Ln', 'Exp', 'Deg', 'Rad', 'Round', 'Int', 'Frac', 'Sgn',
             'BitComplement']
    binary = ['ATan2', 'Mod', 'LdExp', 'Log', 'Pow', 'Add', 'Sub', 'Mul', 'Div', 'Rt', 'Hypot',
              'Min', 'Max', 'BitXor']
    for name in unary:
        for x in REALS + BITS:
            yield row(name, (x,))
    for name in binary:
        for a, b in PAIRS:
            yield row(name, (a, b), 1 if name == 'Hypot' else 0)
    for name in ['Shr', 'Shl', 'Sar', 'BitSet', 'BitClear', 'BitTest']:
        for x in BITS:
            for n in COUNTS:
                yield row(name, (x, n))
    for name in ['Ror', 'Rol']:
        for x in BITS:
            for n in COUNTS:
                yield row(name, (x, n))
                for w in WIDTHS:
                    yield row(name, (x, n, w))
    for x in BITS:
        for s in (0.0, 1.0, -1.0, 0.5):
            for w in WIDTHS:
                yield row('Cast', (x, s, w))
    triples = [(370.0, 0.0, 360.0), (-10.0, 0.0, 360.0), (730.0, 0.0, 360.0), (360.0, 0.0, 360.0),
               (0.0, 0.0, 360.0), (5.0, 10.0, 20.0), (25.0, 10.0, 20.0), (15.0, 10.0, 20.0),
               (nan, 0.0, 1.0), (-0.5, -1.0, 1.0), (1.0, -1.0, 1.0), (7.0, 20.0, 10.0)]
    for name in ['Wrap', 'Limit']:
        for t in triples:
            yield row(name, t)
    for args in [(3.0, 1.0, 2.0), (1.0, 5.0, 3.0), (nan, 1.0), (1.0, nan), (1.0, nan, 0.0),
                 (-0.0, 0.0), (0.0, -0.0), (2.0, 2.0, 1.0, 3.0, -4.0, 9.0)]:
        yield row('Min', args)
        yield row('Max', args)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'math_golden.txt')
    with open(out, 'w') as f:
        for r in rows():
            if r is not None:
                f.write(r + '\n')


if __name__ == '__main__':
    main()
