#!/usr/bin/env python3
"""The vector tests' peer: the same paths drawn by pycairo, written on its own from the rules
of the path stream (arcs in degrees turning clockwise on screen, box corners in per cent of
half the shorter side: top-left, bottom-left, bottom-right, top-right).

Reads cases from standard input, one command per line:
  picture W H BG            the brush every case starts from (BG 0xRRGGBB)
  style FILL WIDTH AA JOIN CAP RULE   FILL 1 fills, else the path is stroked WIDTH wide
  dash OFFSET L1 L2 ...     (no dash line: solid)
  move|line REL X Y, curve REL X1 Y1 X2 Y2 X3 Y3, arc CX CY RX RY START END CW,
  box X Y W H A B C D, sub, close
  text SIZE WORD            the word's outline in Bitstream Vera Sans at SIZE, from the current
                            point or else with its ascent on the top edge; not hinted
  border SIZE COLOR         the next draw has a border under it: the path stroked 2 * SIZE wide
                            in COLOR (with the path's dashes, joins and caps), and a filled path
                            filled in COLOR as well, through the same matrix
  turn A B C D AX AY        the next draw's matrix (x' = A x + C y, y' = B x + D y), turning
                            the path's box about its anchor (fractions of the box)
  draw X Y COLOR            the path's box placed with its top-left corner at (X, Y), or with
                            its anchor there when turned
  extents                   prints "x1 y1 x2 y2" of the path as styled instead
  effects EDGE EDGECOLOR SHADOW DIRECTION SHADOWCOLOR   a filled path's edge (EDGE pixels, its
                            stroke 2 * EDGE wide) and drop shadow (0 none) under the fill, without
                            anti-aliasing: the shadow the silhouette of both, past the margins its
                            direction (0 up, clockwise in eighths) leaves; each layer replaces
                            what it covers (a transparent fill leaves a hole in the edge)
Each draw prints the picture's pixels as W*H hex words 0xRRGGBB on one line, then starts anew.
"""
import math
import sys

import cairo


def build(cr, cmds):
    cr.new_path()
    previous = None
    for c in cmds:
        op, a = c[0], c[1:]
        if op in ('move', 'line', 'curve'):
            rel = a[0] != 0
            pts = list(a[1:])
            bx, by = (0.0, 0.0)
            if rel and cr.has_current_point():
                bx, by = cr.get_current_point()
            for i in range(0, len(pts), 2):
                pts[i] += bx
                pts[i + 1] += by
            {'move': cr.move_to, 'line': cr.line_to, 'curve': cr.curve_to}[op](*pts)
        elif op == 'sub':
            cr.new_sub_path()
        elif op == 'close':
            cr.close_path()
        elif op == 'arc':
            cx, cy, rx, ry, start, end, cw = a
            if rx > 0 and ry > 0:
                if previous != 'move':
                    cr.new_sub_path()
                cr.save()
                cr.translate(cx, cy)
                cr.scale(rx, ry)
                f = cr.arc if cw else cr.arc_negative
                f(0, 0, 1, math.radians(start), math.radians(end))
                cr.restore()
        elif op == 'box':
            x, y, w, h = a[:4]
            r = [min(v, 100) / 100.0 * min(w, h) / 2 for v in a[4:]]
            q = math.pi / 2
            cr.new_sub_path()
            cr.move_to(x + r[0], y)
            if r[3] > 0:
                cr.arc(x + w - r[3], y + r[3], r[3], -q, 0)
            else:
                cr.line_to(x + w, y)
            if r[2] > 0:
                cr.arc(x + w - r[2], y + h - r[2], r[2], 0, q)
            else:
                cr.line_to(x + w, y + h)
            if r[1] > 0:
                cr.arc(x + r[1], y + h - r[1], r[1], q, 2 * q)
            else:
                cr.line_to(x, y + h)
            if r[0] > 0:
                cr.arc(x + r[0], y + r[0], r[0], 2 * q, 3 * q)
            else:
                cr.line_to(x, y)
            cr.close_path()
        elif op == 'text':
            cr.select_font_face('Bitstream Vera Sans')
            cr.set_font_size(a[0])
            options = cairo.FontOptions()
            options.set_hint_style(cairo.HINT_STYLE_NONE)
            options.set_hint_metrics(cairo.HINT_METRICS_OFF)
            cr.set_font_options(options)
            if not cr.has_current_point():
                cr.move_to(0, cr.font_extents()[0])
            cr.text_path(a[1])
        previous = op


def styled(cr, style, dash):
    fill, width, aa, join, cap, rule = style
    cr.set_line_width(max(width, 1))
    cr.set_line_join(cairo.LineJoin(join))
    cr.set_line_cap(cairo.LineCap(cap))
    cr.set_fill_rule(cairo.FillRule(rule))
    cr.set_antialias(cairo.ANTIALIAS_DEFAULT if aa else cairo.ANTIALIAS_NONE)
    if dash:
        cr.set_dash(dash[1:], dash[0])


def extents(cmds, style, dash):
    s = cairo.ImageSurface(cairo.FORMAT_A8, 1, 1)
    cr = cairo.Context(s)
    styled(cr, style, dash)
    build(cr, cmds)
    return cr.fill_extents() if style[0] else cr.stroke_extents()


def draw(picture, cmds, style, dash, x, y, color):
    w0, h0, bg = picture
    x1, y1, x2, y2 = extents(cmds, style, dash)
    w, h = int(x2 - x1 + 0.5), int(y2 - y1 + 0.5)
    cov = cairo.ImageSurface(cairo.FORMAT_A8, w, h)
    cr = cairo.Context(cov)
    cr.translate(-x1, -y1)
    styled(cr, style, dash)
    cr.set_source_rgba(0, 0, 0, (255 - (color >> 24)) / 255.0)
    build(cr, cmds)
    cr.fill() if style[0] else cr.stroke()
    cov.flush()
    out = cairo.ImageSurface(cairo.FORMAT_RGB24, w0, h0)
    o = cairo.Context(out)
    o.set_source_rgb(((bg >> 16) & 255) / 255.0, ((bg >> 8) & 255) / 255.0, (bg & 255) / 255.0)
    o.paint()
    o.set_source_rgb(((color >> 16) & 255) / 255.0, ((color >> 8) & 255) / 255.0, (color & 255) / 255.0)
    o.mask_surface(cov, x, y)
    out.flush()
    return pixels(out, w0, h0)


def draw_turned(picture, cmds, style, dash, turn, x, y, color, border=None):
    w0, h0, bg = picture
    x1, y1, x2, y2 = extents(cmds, style, dash)
    w, h = int(x2 - x1 + 0.5), int(y2 - y1 + 0.5)
    a, b, c, d, ax, ay = turn
    out = cairo.ImageSurface(cairo.FORMAT_RGB24, w0, h0)
    o = cairo.Context(out)
    o.set_source_rgb(((bg >> 16) & 255) / 255.0, ((bg >> 8) & 255) / 255.0, (bg & 255) / 255.0)
    o.paint()
    # The anchor point stays at (x, y); the box turns about it.
    o.translate(x, y)
    o.transform(cairo.Matrix(a, b, c, d, 0, 0))
    o.translate(-w * ax - x1, -h * ay - y1)
    if border:
        size, bc = border
        styled(o, style, dash)
        o.set_line_width(2 * size)
        o.set_source_rgb(((bc >> 16) & 255) / 255.0, ((bc >> 8) & 255) / 255.0, (bc & 255) / 255.0)
        build(o, cmds)
        o.stroke()
        if style[0]:
            build(o, cmds)
            o.fill()
    styled(o, style, dash)
    o.set_source_rgb(((color >> 16) & 255) / 255.0, ((color >> 8) & 255) / 255.0, (color & 255) / 255.0)
    build(o, cmds)
    o.fill() if style[0] else o.stroke()
    out.flush()
    return pixels(out, w0, h0)


def margins(size, direction):
    l = size if direction in (5, 6, 7) else 0
    t = size if direction in (0, 1, 7) else 0
    r = size if direction in (1, 2, 3) else 0
    b = size if direction in (3, 4, 5) else 0
    return l, t, r, b


def draw_effects(picture, cmds, style, effects, x, y, color):
    w0, h0, bg = picture
    edge, edge_color, shadow, direction, shadow_color = effects
    s = cairo.ImageSurface(cairo.FORMAT_A8, 1, 1)
    cr = cairo.Context(s)
    styled(cr, style, None)
    build(cr, cmds)
    if edge:
        cr.set_line_width(2 * edge)
        x1, y1, x2, y2 = cr.stroke_extents()
    else:
        x1, y1, x2, y2 = cr.fill_extents()
    l, t, r, b = margins(shadow, direction)
    w, h = int(x2 - x1 + 0.5) + l + r, int(y2 - y1 + 0.5) + t + b
    img = cairo.ImageSurface(cairo.FORMAT_ARGB32, w, h)
    cr = cairo.Context(img)

    def rgb(c):
        cr.set_source_rgba(((c >> 16) & 255) / 255.0, ((c >> 8) & 255) / 255.0, (c & 255) / 255.0,
                           (255 - (c >> 24)) / 255.0)

    def layer(dx, dy, c, with_edge, with_body):
        cr.save()
        cr.translate(dx - x1, dy - y1)
        cr.set_operator(cairo.OPERATOR_SOURCE)
        styled(cr, style, None)
        rgb(c)
        if with_edge:
            build(cr, cmds)
            cr.set_line_width(2 * edge)
            cr.stroke()
        if with_body:
            build(cr, cmds)
            cr.fill()
        cr.restore()

    if shadow:
        layer(r, b, shadow_color, edge > 0, True)
    if edge:
        layer(l, t, edge_color, True, False)
    layer(l, t, color, False, True)
    img.flush()
    out = cairo.ImageSurface(cairo.FORMAT_RGB24, w0, h0)
    o = cairo.Context(out)
    o.set_source_rgb(((bg >> 16) & 255) / 255.0, ((bg >> 8) & 255) / 255.0, (bg & 255) / 255.0)
    o.paint()
    o.set_source_surface(img, x - l, y - t)
    o.paint()
    out.flush()
    return pixels(out, w0, h0)


def pixels(out, w0, h0):
    data, stride = out.get_data(), out.get_stride()
    words = []
    for row in range(h0):
        for col in range(w0):
            i = row * stride + col * 4
            b, g, r = data[i], data[i + 1], data[i + 2]
            words.append('%06x' % (r << 16 | g << 8 | b))
    return ' '.join(words)


def main():
    picture, style, dash, cmds, effects, turn, border = None, (1, 1, 1, 0, 0, 0), None, [], None, None, None
    for line in sys.stdin:
        t = line.split()
        if not t:
            continue
        op, a = t[0], [float(v) if '.' in v else int(v, 0) for v in t[1:]] if t[0] != 'text' else (int(t[1]), t[2])
        if op == 'picture':
            picture = a
        elif op == 'style':
            style = tuple(a)
        elif op == 'dash':
            dash = a
        elif op == 'effects':
            effects = a
        elif op == 'turn':
            turn = a
        elif op == 'border':
            border = a
        elif op == 'draw':
            if turn or border:
                print(draw_turned(picture, cmds, style, dash, turn or (1, 0, 0, 1, 0, 0), a[0], a[1], a[2], border))
            elif effects:
                print(draw_effects(picture, cmds, style, effects, a[0], a[1], a[2]))
            else:
                print(draw(picture, cmds, style, dash, a[0], a[1], a[2]))
            style, dash, cmds, effects, turn, border = (1, 1, 1, 0, 0, 0), None, [], None, None, None
        elif op == 'extents':
            print('%.6f %.6f %.6f %.6f' % extents(cmds, style, dash))
            style, dash, cmds = (1, 1, 1, 0, 0, 0), None, []
        else:
            cmds.append((op, *a))


main()
