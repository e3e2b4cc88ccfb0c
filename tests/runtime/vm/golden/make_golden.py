#!/usr/bin/env python3
# Writes golden.qmb byte by byte with nothing but struct, as a check on the chunk builder
# and the loader. golden.qasm beside it is the same program in assembler text.
import os, struct

def i32(v): return struct.pack('<i', v)
def s(t): return i32(0) if t is None else i32(len(t) + 1) + t + b'\0'
def abc(op, a, b, c): return struct.pack('<I', op | c << 6 | b << 15 | a << 24)
def abx(op, a, bx): return struct.pack('<I', op | bx << 6 | a << 24)
NIL, NUM, STR = b'\0', b'\3', b'\4'

def proto(source, line, nups, params, vararg, maxstack, lines, locs, upnames, consts, protos, code):
    out = s(source) + i32(line) + bytes([nups, params, vararg, maxstack])
    out += i32(len(lines)) + b''.join(i32(n) for n in lines)
    out += i32(len(locs)) + b''.join(s(n) + i32(a) + i32(b) for n, a, b in locs)
    out += i32(len(upnames)) + b''.join(s(n) for n in upnames)
    out += i32(len(consts)) + b''.join(consts)
    out += i32(len(protos)) + b''.join(protos)
    return out + i32(len(code)) + b''.join(code)

# function(x) counter = counter + 1 return counter end, keeping counter as upvalue 0
bump = proto(None, 3, 1, 1, 0, 2, [4, 4, 5, 6], [(b'x', 0, 4)], [b'counter'],
             [NUM + struct.pack('<d', 1.0)], [],
             [abc(4, 1, 0, 0), abc(11, 1, 1, 250), abc(8, 1, 0, 0), abc(34, 1, 2, 0)])
main = proto(b'@golden.qms', 0, 0, 0, 1, 3, [1, 3, 3, 7, 8, 9, 9], [(b'counter', 1, 7)], [],
             [STR + s(b'bump'), NUM + struct.pack('<d', 2.5), NIL, STR + s(b'a\0b')], [bump],
             [abx(1, 0, 1), abx(41, 1, 0), abc(0, 0, 0, 0), abx(7, 1, 0), abc(3, 2, 2, 0),
              abc(40, 0, 0, 0), abc(34, 0, 1, 0)])
header = b'\x1bQMB' + bytes([1, 4, 4, 4, 6, 8, 9, 9, 8]) + struct.pack('<d', 31415926.535897933)

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'golden.qmb'), 'wb') as f:
    f.write(header + main)
