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
GREEN = (36, 150, 60)
ORANGE = (232, 138, 18)
RED = (204, 36, 36)
GOLD = (214, 164, 24)
GREY = (150, 154, 160)
LIGHT = (206, 210, 216)
PANEL = (222, 239, 255)  # the download screen's fill, RGB565 0xDF7F


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
        """Writes name.png below this folder; a name with folders (the tree
        path below "/pict/") gets them made."""
        os.makedirs(os.path.dirname(os.path.join(HERE, name)), exist_ok=True)
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


def letters(canvas, font, advance, text, left, top, colour):
    """Paints text in a bitmap font, one cell a set bit, `advance` apart."""
    cells = []
    for i, ch in enumerate(text):
        for row, bits in enumerate(font[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    x, y = left + i * advance + col, top + row
                    cells.append(rect(x, y, x + 1, y + 1))
    canvas.fill(union(*cells), colour)


def caption(canvas, text, top, colour):
    letters(canvas, FONT, 6, text, (canvas.w - (len(text) * 6 - 1)) // 2, top, colour)


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


def action(name, top):
    """Page actions: back (a left arrow) and top (an up arrow under a bar)."""
    c = Canvas(16, 16)
    if top:
        c.fill(union(rect(2, 1.5, 14, 3.5), polygon([(2.5, 10), (13.5, 10), (8, 4.5)]),
                     rect(6.8, 9, 9.2, 14.5)), INK)
    else:
        c.fill(union(polygon([(1.5, 8), (7.5, 2.5), (7.5, 13.5)]), rect(7, 6.8, 14.5, 9.2)), INK)
    c.save(name)


def padlock(c, colour, opened=False):
    lift = 1.5 if opened else 0
    arc = minus(ring(6, 4.5 - lift, 3.4, 2.0), rect(0, 4.5 - lift, 12, 12))
    legs = [rect(2.6, 4.4 - lift, 4.0, 6)]
    if not opened:
        legs.append(rect(8.0, 4.4, 9.4, 6))
    c.fill(union(arc, *legs), GREY if opened else INK)
    c.fill(rounded(1.5, 5.5, 10.5, 11.5, 1.2), colour)
    c.fill(union(circle(6, 8, 1.1), rect(5.5, 8, 6.5, 10)), WHITE)


def lock(name, colour, opened=False):
    c = Canvas(12, 12)
    padlock(c, colour, opened)
    c.save(name)


def shield(name, letter, colour):
    """A security level: its letter on a shield."""
    c = Canvas(12, 12)
    c.fill(polygon([(0.5, 0.5), (11.5, 0.5), (11.5, 6.5), (6, 11.8), (0.5, 6.5)]), colour)
    caption(c, letter, 1, WHITE)
    c.save(name)


def handset(c, colour):
    """A telephone handset: an arc with an ear and a mouth piece."""
    arc = lambda x, y: ring(5, 7, 5.0, 3.0)(x, y) and y - x > 1
    c.fill(union(arc, rounded(0.5, 0.5, 4.5, 4.5, 1.5), rounded(7.5, 7.5, 11.5, 11.5, 1.5)), colour)


def call(name, kind):
    c = Canvas(12, 12)
    if kind == "packet":
        c.fill(union(polygon([(0.5, 5), (6.5, 5), (3.5, 1)]), rect(2.7, 4, 4.3, 11)), GREEN)
        c.fill(union(polygon([(5.5, 7), (11.5, 7), (8.5, 11)]), rect(7.7, 1, 9.3, 8)), BRAND)
    else:
        handset(c, INK if kind == "circuit" else GREY)
        if kind == "none":
            c.fill(stroke(1.5, 10.5, 10.5, 1.5, 1.6), RED)
    c.save(name)


def spinner_dots(name, size, count, lit):
    """Dots on a circle, darker towards the lit one: a busy mark."""
    c = Canvas(size, size)
    centre, radius, dot = size / 2, size * 0.34, max(size * 0.1, 1.3)
    for i in range(count):
        angle = 2 * math.pi * i / count - math.pi / 2
        age = (lit - i) % count
        shade = [BRAND, BRAND, (70, 130, 190), (120, 160, 205), LIGHT][min(age, 4)]
        c.fill(circle(centre + radius * math.cos(angle), centre + radius * math.sin(angle),
                      dot * (1.3 if age == 0 else 1.0)), shade)
    c.save(name)


def frame_corner(name, right, bottom):
    """A corner of the download screen's frame: a quarter ring, filled inside."""
    c = Canvas(6, 6)
    cx, cy = (0 if right else 6), (0 if bottom else 6)
    c.fill(circle(cx, cy, 6), BRAND)
    c.fill(circle(cx, cy, 4), PANEL)
    c.save(name)


def frame_line(name, side):
    """One pixel of the frame's side, repeated along it."""
    c = Canvas(1, 6) if side in ("top", "bottom") else Canvas(6, 1)
    edge = {"top": rect(0, 0, 1, 2), "bottom": rect(0, 4, 1, 6),
            "left": rect(0, 0, 2, 1), "right": rect(4, 0, 6, 1)}[side]
    c.fill(rect(0, 0, c.w, c.h), PANEL)
    c.fill(edge, BRAND)
    c.save(name)


def bar_border(name, width, height):
    c = Canvas(width, height)
    c.fill(rounded(0, 0, width, height, 2), BRAND)
    c.fill(rounded(1, 1, width - 1, height - 1, 1.5), WHITE)
    c.save(name)


def bar_part(name, part, height=10):
    """The ends of a filling bar and one column of its fill."""
    width = 1 if part == "line" else 2
    c = Canvas(width, height)
    if part == "line":
        c.fill(union(rect(0, 0, 1, 1), rect(0, height - 1, 1, height)), BRAND)
        c.fill(rect(0, 2, 1, height - 2), GREEN)
    else:
        c.fill(rounded(0, 0, 4, height, 2) if part == "start" else rounded(-2, 0, 2, height, 2),
               BRAND)
        c.fill(rect(1 if part == "start" else 0, 2, 2 if part == "start" else 1, height - 2),
               GREEN)
    c.save(name)


def striped_bar(name, colour, width=40, height=6):
    """A busy bar: diagonal stripes on a rounded bar."""
    c = Canvas(width, height)
    c.fill(rounded(0, 0, width, height, 2), colour)
    lighter = tuple(min(255, v + 70) for v in colour)
    inner = rounded(1, 1, width - 1, height - 1, 1.5)
    c.fill(lambda x, y: inner(x, y) and int((x + y) / 4) % 2 == 0, lighter)
    c.save(name)


def transfer(name, up, down):
    """Data going up (sent), down (received) or both."""
    c = Canvas(7, 10)
    if up:
        c.fill(polygon([(0.5, 4), (6.5, 4), (3.5, 0.5)]), GREEN)
    if down:
        c.fill(polygon([(0.5, 6), (6.5, 6), (3.5, 9.5)]), BRAND)
    c.fill(rect(2.7, 3.5 if up else 1, 4.3, 6.5 if down else 9), GREEN if up else BRAND)
    c.save(name)


def scroll_mark(name, up, down):
    """Whether more of the page lies above, below or both."""
    c = Canvas(7, 9 if up and down else 4)
    if up:
        c.fill(polygon([(0, 4), (7, 4), (3.5, 0.5)]), INK)
    if down:
        top = c.h - 4
        c.fill(polygon([(0, top), (7, top), (3.5, top + 3.5)]), INK)
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

    # The rest of the tree, each PNG at its path below "/pict/".
    action("core/action/Back", False)
    action("core/action/Top", True)
    q = "ui/qorui/"
    lock(q + "authenticated", GOLD)
    call(q + "circuitcall", "circuit")
    call(q + "nocall", "none")
    call(q + "packetcall", "packet")
    spinner_dots(q + "spin_e", 12, 8, 0)
    shield(q + "authentication/EndtoEnd", "E", GREEN)
    shield(q + "authentication/Gateway", "G", ORANGE)
    shield(q + "authentication/Wap", "W", BRAND)
    d = q + "download/"
    for vertical in ("top", "bottom"):
        for horizontal in ("left", "right"):
            frame_corner(d + "corner_" + horizontal + vertical, horizontal == "right",
                         vertical == "bottom")
    for side in ("top", "bottom", "left", "right"):
        frame_line(d + "line_" + side, side)
    for frame in range(7):
        spinner_dots(d + "processing_bar_%d" % (frame + 1), 24, 7, frame)
    bar_border(d + "progress_border", 104, 10)
    bar_border(d + "progress_border_small", 64, 8)
    for part in ("start", "end", "line"):
        bar_part(d + "progress_" + part, part)
    e = q + "ext/"
    transfer(e + "up", True, False)
    transfer(e + "down", False, True)
    transfer(e + "updown", True, True)
    lock(e + "endtoend", GREEN)
    lock(e + "gateway", ORANGE)
    lock(e + "wap", BRAND)
    lock(e + "none", LIGHT, opened=True)
    striped_bar(e + "processingbar_free", GREEN)
    striped_bar(e + "processingbar_pay", ORANGE)
    scroll_mark(q + "scroll/up", True, False)
    scroll_mark(q + "scroll/down", False, True)
    scroll_mark(q + "scroll/updown", True, True)


if __name__ == "__main__":
    main()
