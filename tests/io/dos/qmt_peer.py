#!/usr/bin/env python3
"""An independent reader and writer of table records ("QMT0"), written from the format's
description alone: big-endian, tag 2 double, 3 u32 length + bytes, 4 nested body, 0 end.

  qmt_peer.py read FILE    prints every record of FILE, one per line, keys sorted
  qmt_peer.py write FILE   writes two records: a fixed table, then {1: "second"}
"""
import struct
import sys


def read_body(data, pos):
    table = {}
    while True:
        tag = data[pos]
        pos += 1
        if tag == 0:
            return table, pos
        key, pos = read_item(data, pos, tag)
        value, pos = read_item(data, pos + 1, data[pos])
        table[key] = value


def read_item(data, pos, tag):
    if tag == 2:
        return struct.unpack(">d", data[pos:pos + 8])[0], pos + 8
    if tag == 3:
        (n,) = struct.unpack(">I", data[pos:pos + 4])
        return data[pos + 4:pos + 4 + n].decode("latin-1"), pos + 4 + n
    if tag == 4:
        return read_body(data, pos)
    raise ValueError("tag %d" % tag)


def show(v):
    if isinstance(v, dict):
        return "{" + ",".join("%s=%s" % (show(k), show(v[k])) for k in sorted(v, key=show)) + "}"
    if isinstance(v, float):
        return repr(int(v)) if v == int(v) else repr(v)
    return repr(v)


def write_item(v):
    if isinstance(v, dict):
        return b"\x04" + write_body(v)
    if isinstance(v, str):
        b = v.encode("latin-1")
        return b"\x03" + struct.pack(">I", len(b)) + b
    return b"\x02" + struct.pack(">d", float(v))


def write_body(t):
    return b"".join(write_item(k) + write_item(v) for k, v in t.items()) + b"\x00"


if sys.argv[1] == "read":
    data = open(sys.argv[2], "rb").read()
    pos = 0
    while pos < len(data):
        assert data[pos:pos + 4] == b"QMT0"
        t, pos = read_body(data, pos + 4)
        print(show(t))
else:
    first = {"name": "peer", 1: 2.5, "nested": {"k": "v\x00w", 2: -1}, "big": "x" * 300}
    with open(sys.argv[2], "wb") as f:
        f.write(b"QMT0" + write_body(first) + b"QMT0" + write_body({1: "second"}))
