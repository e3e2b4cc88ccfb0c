#!/usr/bin/python3
# The draw tests' peer: draws the same shapes with OpenCV's Python binding on a picture of the
# same size and prints it as one 0xRRGGBB hex word per pixel, rows top-down.
# Input (stdin): "size W H BG", then one shape per line:
#   fill COLOR AA x1 y1 x2 y2 ...        filled polygon (AA 1: anti-aliased)
#   outline COLOR WIDTH AA x1 y1 ...     closed polyline
#   line COLOR THICKNESS AA x1 y1 x2 y2
#   rect COLOR x y w h                   filled rectangle, inclusive of its last row and column
import sys

import cv2
import numpy as np


def bgr(c):
    return ((c & 0xFF), (c >> 8) & 0xFF, (c >> 16) & 0xFF)


def main():
    img = None
    for line in sys.stdin:
        f = line.split()
        if not f:
            continue
        kind, nums = f[0], [int(v, 0) for v in f[1:]]
        if kind == 'size':
            w, h, bg = nums
            img = np.zeros((h, w, 3), np.uint8)
            img[:, :] = bgr(bg)
        elif kind == 'fill':
            pts = np.array(nums[2:], np.int32).reshape(-1, 2)
            cv2.fillPoly(img, [pts], bgr(nums[0]), cv2.LINE_AA if nums[1] else cv2.LINE_8)
        elif kind == 'outline':
            pts = np.array(nums[3:], np.int32).reshape(-1, 2)
            cv2.polylines(img, [pts], True, bgr(nums[0]), nums[1], cv2.LINE_AA if nums[2] else cv2.LINE_8)
        elif kind == 'line':
            c, t, aa, x1, y1, x2, y2 = nums
            cv2.line(img, (x1, y1), (x2, y2), bgr(c), t, cv2.LINE_AA if aa else cv2.LINE_8)
        elif kind == 'rect':
            c, x, y, w, h = nums
            cv2.rectangle(img, (x, y), (x + w - 1, y + h - 1), bgr(c), cv2.FILLED)
    out = []
    for row in img:
        out.append(' '.join('%06x' % ((int(p[2]) << 16) | (int(p[1]) << 8) | int(p[0])) for p in row))
    sys.stdout.write('\n'.join(out) + '\n')


main()
