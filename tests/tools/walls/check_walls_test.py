#!/usr/bin/env python3
"""The wall checker finds a planted breach of each wall and passes a clean tree."""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
CHECKER = os.path.join(HERE, '..', '..', '..', 'tools', 'walls', 'check_walls.py')

CLEAN = {
    'runtime/vm/vm_api.h': '#pragma once\nstruct VmState;\n',
    'runtime/vm/vm_state.h': '#pragma once\n',
    'runtime/CMakeLists.txt': 'qm_library(qm_runtime DEPS qm_platform)\n',
    'platform/CMakeLists.txt': 'qm_library(qm_platform DEPS pthread)\n',
    'platform/file.h': '#pragma once\n',
    'graphics/CMakeLists.txt': 'qm_library(qm_graphics SUBDIRS graphics DEPS qm_runtime qm_platform)\n',
    'graphics/blit.h': '#pragma once\n#include "platform/file.h"\n',
    'graphics/graphics/lib_graphics.cpp': '#include "runtime/vm/vm_api.h"\nint f(VmState *L);\n',
    'graphics/graphics/position.h': '#pragma once\n',
    'player/wiring.cpp': '#include "graphics/graphics/position.h"\n',
}

# Each case: a file added to the clean tree (or replacing one) and the wall it breaks.
BREACHES = [
    ('engine names the VM', 'graphics/scale.cpp', 'int f(VmState *L);\n', 'engines 1'),
    ('engine includes the binding layer', 'graphics/scale.cpp', '#include "runtime/cmdargs.h"\n',
     'engines 1'),
    ('engine includes the player', 'graphics/scale.cpp', '#include "player/wiring.h"\n', 'engines 1'),
    ('VM internals outside the runtime', 'player/run.cpp', '#include "runtime/vm/vm_state.h"\n', 'vm 1'),
    ('platform reaches up', 'platform/window.cpp', '#include "graphics/blit.h"\n', 'platform 1'),
    ('platform names the VM', 'platform/window.h', 'void f(VmState *vm);\n', 'platform 1'),
    ('library header seen outside', 'text/render.cpp', '#include "graphics/graphics/position.h"\n',
     'libraries 1'),
    ('target cycle', 'platform/CMakeLists.txt', 'qm_library(qm_platform DEPS qm_graphics)\n',
     'targets 1'),
]


def run_checker(files):
    with tempfile.TemporaryDirectory() as root:
        for path, text in files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, 'w', encoding='utf-8') as handle:
                handle.write(text)
        result = subprocess.run([sys.executable, CHECKER, root], capture_output=True, text=True)
    return result.returncode, result.stdout.strip().splitlines()[-1]


class CheckWalls(unittest.TestCase):
    def test_clean_tree_passes(self):
        code, summary = run_checker(CLEAN)
        self.assertEqual(code, 0, summary)
        self.assertEqual(summary, 'walls: engines 0, vm 0, platform 0, libraries 0, targets 0')

    def test_each_breach_is_found(self):
        for name, path, text, expected in BREACHES:
            with self.subTest(name):
                files = dict(CLEAN)
                files[path] = text
                code, summary = run_checker(files)
                self.assertEqual(code, 1, summary)
                self.assertIn(expected, summary)
                others = [part for part in summary[len('walls: '):].split(', ') if part != expected]
                self.assertTrue(all(part.endswith(' 0') for part in others), summary)


if __name__ == '__main__':
    unittest.main()
