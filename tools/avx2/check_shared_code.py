#!/usr/bin/env python3
"""Checks that the AVX2 kernel files give no AVX instruction to code they share with others.

An inline function or template instance (std::max, a header's helper) that a *_avx2.cpp file
compiles is a weak symbol; the linker keeps one copy for the whole program, which may be that
file's. If that copy holds VEX-encoded instructions, every caller runs them, and a processor
without AVX stops on them. The kernels therefore take their instruction set per function,
never from the command line.

Usage: check_shared_code.py <build tree>   (prints each offending symbol; exit 1 when any)
"""
import pathlib
import re
import subprocess
import sys

VEX = re.compile(r"^\s*[0-9a-f]+:\s+(v[a-z0-9]+)\s", re.M)


def weak_symbols(obj):
    out = subprocess.run(["nm", str(obj)], capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[1] in ("W", "V", "u"):
            yield parts[2]


def vex_instructions(obj, symbol):
    out = subprocess.run(["objdump", "-d", "--no-show-raw-insn", f"--disassemble={symbol}", str(obj)],
                         capture_output=True, text=True, check=True).stdout
    return VEX.findall(out)


def main():
    tree = pathlib.Path(sys.argv[1])
    objects = sorted(tree.rglob("*_avx2.cpp.o"))
    bad = 0
    for obj in objects:
        for symbol in weak_symbols(obj):
            found = vex_instructions(obj, symbol)
            if found:
                bad += 1
                print(f"{obj.name}: shared symbol {symbol} holds {found[0]} (+{len(found) - 1} more)")
    print(f"avx2 objects: {len(objects)}, shared symbols with AVX code: {bad}")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
