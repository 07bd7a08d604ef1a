#!/usr/bin/env python3
"""Draws the PNG sources of the built-in interface pictures into this folder.

    python3 assets/pict/draw.py

Plain Python (zlib only): shapes are filled with 4 x 4 supersampling, so
edges come out smooth; pixels outside every shape stay transparent.
"""
import math
import os
import sys
import struct

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from pngwrite import write_png  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # samples per pixel along each axis

WHITE = (255, 255, 255)
INK = (32, 32, 32)
FRAME = (112, 118, 128)
FOCUS = (24, 96, 200)
FOCUS_FILL = (222, 234, 252)
FACE = (236, 238, 242)
BRAND = (0, 84, 166)
BRAND_DARK = (0, 52, 110)


class Canvas:
    def __init__(self, width, height, background=None):
        self.w, self.h = width, height
        if background is None:
            self.px = [[(0, 0, 0, 0.0)] * width for _ in range(height)]
        else:
            self.px = [[background + (1.0,)] * width for _ in range(height)]

    def fill(self, inside, colour):
        """Paints colour over every pixel by the share of samples inside."""
        for y in range(self.h):
            for x in range(self.w):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        if inside(x + (sx + 0.5) / SS, y + (sy + 0.5) / SS):
                            hits += 1
                if hits:
                    a = hits / (SS * SS)
                    r, g, b, base = self.px[y][x]
                    out = a + base * (1 - a)
                    mix = [(c * a + o * base * (1 - a)) / out for c, o in zip(colour, (r, g, b))]
                    self.px[y][x] = (mix[0], mix[1], mix[2], out)

    def save(self, name):
        rows = [b"".join(
            struct.pack("BBBB", *(int(round(c)) for c in p[:3]), int(round(p[3] * 255)))
            for p in row) for row in self.px]
        write_png(os.path.join(HERE, name + ".png"), self.w, self.h, 6, rows)


# Shapes: functions of a point that say whether it lies inside.
def rect(l, t, r, b):
    return lambda x, y: l <= x < r and t <= y < b


def rounded(l, t, r, b, radius):
    def inside(x, y):
        if not (l <= x < r and t <= y < b):
            return False
        cx = min(max(x, l + radius), r - radius)
        cy = min(max(y, t + radius), b - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2
    return inside


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def ring(cx, cy, outer, inner):
    return lambda x, y: inner ** 2 <= (x - cx) ** 2 + (y - cy) ** 2 <= outer ** 2


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            (x1, y1), (x2, y2) = points[i], points[(i + 1) % n]
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit
    return inside


def stroke(x1, y1, x2, y2, width):
    """A line with round ends."""
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        px, py = x1 + t * dx, y1 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2
    return inside


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


# A 5 x 7 capital font for the small captions.
FONT = {
    "A": ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    "B": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "D": ["11110", "10001", "10001", "10001", "10001", "10001", "11110"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "G": ["01110", "10001", "10000", "10111", "10001", "10001", "01111"],
    "I": ["01110", "00100", "00100", "00100", "00100", "00100", "01110"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "M": ["10001", "11011", "10101", "10101", "10001", "10001", "10001"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "S": ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    "W": ["10001", "10001", "10001", "10101", "10101", "10101", "01010"],
    "Y": ["10001", "10001", "01010", "00100", "00100", "00100", "00100"],
    " ": ["00000"] * 7,
}


def caption(canvas, text, top, colour):
    width = len(text) * 6 - 1
    left = (canvas.w - width) // 2
    cells = []
    for i, ch in enumerate(text):
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    cells.append(rect(left + i * 6 + col, top + row, left + i * 6 + col + 1,
                                      top + row + 1))
    canvas.fill(union(*cells), colour)


def logo(canvas, top):
    """The word QOR in white on a rounded blue plate, 96 x 44."""
    left = (canvas.w - 96) // 2
    canvas.fill(rounded(left, top, left + 96, top + 44, 9), BRAND)
    canvas.fill(rounded(left + 2, top + 2, left + 94, top + 42, 7), BRAND_DARK)
    canvas.fill(rounded(left + 3, top + 3, left + 93, top + 41, 6), BRAND)
    cy = top + 22
    q = left + 22
    o = left + 48
    r = left + 66
    canvas.fill(union(
        ring(q, cy, 12, 7.5), stroke(q + 3, cy + 4, q + 12, cy + 13, 4.5),
        ring(o, cy, 12, 7.5),
        rect(r, cy - 12, r + 4.5, cy + 12),
        minus(union(rect(r, cy - 12, r + 10, cy + 1.5), circle(r + 10, cy - 5.25, 6.75)),
              union(rect(r + 4.5, cy - 7.5, r + 10, cy - 3), circle(r + 10, cy - 5.25, 2.25))),
        stroke(r + 8, cy + 1, r + 15, cy + 10.5, 4.5)), WHITE)


def splash(name, words):
    c = Canvas(120, 80, WHITE)
    logo(c, 10)
    caption(c, words, 62, BRAND_DARK)
    c.save(name)


def box(name, focused, checked):
    c = Canvas(11, 11)
    c.fill(rect(0, 0, 11, 11), FOCUS if focused else FRAME)
    c.fill(rect(1, 1, 10, 10), FOCUS_FILL if focused else WHITE)
    if checked:
        c.fill(union(stroke(2.8, 5.6, 4.6, 7.6, 1.6), stroke(4.6, 7.6, 8.3, 3.2, 1.6)),
               FOCUS if focused else INK)
    c.save(name)


def radio(name, focused, checked):
    c = Canvas(11, 11)
    c.fill(circle(5.5, 5.5, 5.5), FOCUS if focused else FRAME)
    c.fill(circle(5.5, 5.5, 4.5), FOCUS_FILL if focused else WHITE)
    if checked:
        c.fill(circle(5.5, 5.5, 2.3), FOCUS if focused else INK)
    c.save(name)


def button(width, height, focused):
    c = Canvas(width, height)
    c.fill(rect(0, 0, width, height), FOCUS if focused else FRAME)
    c.fill(rect(1, 1, width - 1, height - 1), FOCUS_FILL if focused else FACE)
    return c


def editbox(name, focused):
    """A pencil: the mark at the right end of an editable box."""
    c = button(12, 12, focused)
    ink = FOCUS if focused else INK
    c.fill(polygon([(8.2, 2.0), (10.0, 3.8), (4.6, 9.2), (2.8, 7.4)]), ink)
    c.fill(polygon([(2.8, 7.4), (4.6, 9.2), (2.0, 10.0)]), ink)
    c.save(name)


def dropdown(name, focused):
    c = button(10, 12, focused)
    c.fill(polygon([(2, 4.5), (8, 4.5), (5, 8.5)]), FOCUS if focused else INK)
    c.save(name)


def spinner(name, focused):
    """Left and right arrows: a choice that steps sideways."""
    c = button(14, 12, focused)
    ink = FOCUS if focused else INK
    c.fill(polygon([(5.5, 3), (5.5, 9), (2, 6)]), ink)
    c.fill(polygon([(8.5, 3), (8.5, 9), (12, 6)]), ink)
    c.save(name)


def arrow(name, up, colour):
    c = Canvas(9, 6)
    if up:
        c.fill(polygon([(0.5, 5.5), (8.5, 5.5), (4.5, 0.5)]), colour)
    else:
        c.fill(polygon([(0.5, 0.5), (8.5, 0.5), (4.5, 5.5)]), colour)
    c.save(name)


def main():
    splash("splash", "WEB BROWSER")
    splash("splash_ending", "GOODBYE")
    for focused in (False, True):
        fo = "fo" if focused else ""
        box("chkclr" + fo, focused, False)
        box("chksel" + fo, focused, True)
        radio("radclr" + fo, focused, False)
        radio("radsel" + fo, focused, True)
        editbox("editbx" + fo, focused)
        dropdown("menu" + fo, focused)
        dropdown("new_menu" + fo, focused)
        arrow("textup" + fo, True, FOCUS if focused else INK)
        arrow("textdn" + fo, False, FOCUS if focused else INK)
    spinner("new_menu_garo", False)
    spinner("new_menufo_garo", True)
    arrow("scrollup", True, INK)
    arrow("scrolldn", False, INK)


if __name__ == "__main__":
    main()
