#!/usr/bin/env python3
"""Checks the walls between the player's layers from the sources alone.

  engines   Files of graphics/, display/, layers/, text/, media/, io/ and transitions/ that lie
            outside a library folder take plain records: they never name VmState and include
            nothing of runtime/vm/, runtime/cmdargs.h, runtime/auxlib.h or player/.
  vm        Outside runtime/, the VM is seen only through runtime/vm/vm_api.h and
            runtime/vm/vm_number.h.
  platform  platform/ includes nothing of the layers above it and never names VmState.
  libraries A library folder (one holding a lib_*.cpp) is private: its headers are included
            only by its own files, by player/libtable.cpp and by player/wiring.cpp.
  targets   The qm_* CMake libraries depend on each other without a cycle.

Usage: check_walls.py [project root]. Prints one line per breach and a summary; exits 1 when
any wall is breached.
"""
import os
import re
import sys

TOPS = ('runtime', 'platform', 'player', 'graphics', 'display', 'layers', 'text', 'media', 'io',
        'transitions')
ENGINE_TOPS = ('graphics', 'display', 'layers', 'text', 'media', 'io', 'transitions')
ABOVE_PLATFORM = ('display/', 'graphics/', 'layers/', 'text/', 'media/', 'io/', 'player/',
                  'transitions/', 'runtime/vm/')
VM_PUBLIC = ('runtime/vm/vm_api.h', 'runtime/vm/vm_number.h')
LIBRARY_READERS = ('player/libtable.cpp', 'player/wiring.cpp')
SOURCE_SUFFIXES = ('.h', '.cpp', '.inc', '.def', '.hpp', '.cc')
INCLUDE = re.compile(r'^[ \t]*#[ \t]*include[ \t]*"([^"]+)"', re.M)
VMSTATE = re.compile(r'\bVmState\b')


def sources(root):
    found = []
    for top in TOPS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in names:
                if name.endswith(SOURCE_SUFFIXES):
                    found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


def library_folder(path, folders):
    """The library folder that holds path (itself or an ancestor), or None."""
    folder = os.path.dirname(path)
    while folder:
        if folder in folders:
            return folder
        folder = os.path.dirname(folder)
    return None


def file_walls(root, files):
    breaches = []
    libraries = {os.path.dirname(f) for f in files
                 if os.path.basename(f).startswith('lib_') and f.endswith('.cpp')}
    for f in files:
        with open(os.path.join(root, f), encoding='utf-8', errors='replace') as handle:
            text = handle.read()
        includes = INCLUDE.findall(text)
        top = f.split('/', 1)[0]
        own_library = library_folder(f, libraries)
        if top in ENGINE_TOPS and own_library is None:
            if VMSTATE.search(text):
                breaches.append(('engines', f, 'names VmState'))
            for inc in includes:
                if (inc.startswith(('runtime/vm/', 'player/'))
                        or inc in ('runtime/cmdargs.h', 'runtime/auxlib.h')):
                    breaches.append(('engines', f, 'includes ' + inc))
        if top != 'runtime':
            for inc in includes:
                if inc.startswith('runtime/vm/') and inc not in VM_PUBLIC:
                    breaches.append(('vm', f, 'includes ' + inc))
        if top == 'platform':
            if VMSTATE.search(text):
                breaches.append(('platform', f, 'names VmState'))
            for inc in includes:
                if inc.startswith(ABOVE_PLATFORM):
                    breaches.append(('platform', f, 'includes ' + inc))
        for inc in includes:
            owner = library_folder(inc, libraries)
            if owner is None or not os.path.exists(os.path.join(root, inc)):
                continue
            if owner != own_library and f not in LIBRARY_READERS:
                breaches.append(('libraries', f, 'includes ' + inc))
    return breaches


CALL = re.compile(r'\b(qm_library|qm_test|target_link_libraries|add_library)\s*\(([^)]*)\)', re.S)
KEYWORDS = {'PUBLIC', 'PRIVATE', 'INTERFACE', 'SUBDIRS', 'DEPS', 'STATIC', 'MODULE', 'SHARED'}


def target_graph(root):
    """Edges between qm_* library targets, from every CMakeLists.txt of the product folders."""
    edges = {}
    for top in TOPS:
        for folder, _, names in os.walk(os.path.join(root, top)):
            if 'CMakeLists.txt' not in names:
                continue
            with open(os.path.join(folder, 'CMakeLists.txt'), encoding='utf-8') as handle:
                text = re.sub(r'#[^\n]*', '', handle.read())
            for kind, body in CALL.findall(text):
                words = body.split()
                if not words or kind == 'qm_test':
                    continue
                target, rest = words[0], words[1:]
                if kind == 'qm_library' and 'DEPS' in rest:
                    rest = rest[rest.index('DEPS') + 1:]
                elif kind in ('qm_library', 'add_library'):
                    rest = []
                deps = [w for w in rest if w.startswith('qm_') and w not in KEYWORDS]
                edges.setdefault(target, set()).update(deps)
    return edges


def find_cycle(edges):
    """One cycle as a list of targets, or None."""
    state = {}
    stack = []

    def visit(node):
        state[node] = 'open'
        stack.append(node)
        for nxt in sorted(edges.get(node, ())):
            if state.get(nxt) == 'open':
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                cycle = visit(nxt)
                if cycle:
                    return cycle
        stack.pop()
        state[node] = 'done'
        return None

    for node in sorted(edges):
        if node not in state:
            cycle = visit(node)
            if cycle:
                return cycle
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else '.')
    breaches = file_walls(root, sources(root))
    cycle = find_cycle(target_graph(root))
    if cycle:
        breaches.append(('targets', 'CMake', 'cycle ' + ' -> '.join(cycle)))
    for wall, where, what in breaches:
        print(f'{wall}: {where}: {what}')
    counts = {w: 0 for w in ('engines', 'vm', 'platform', 'libraries', 'targets')}
    for wall, _, _ in breaches:
        counts[wall] += 1
    print('walls: ' + ', '.join(f'{w} {n}' for w, n in counts.items()))
    return 1 if breaches else 0


if __name__ == '__main__':
    sys.exit(main())
