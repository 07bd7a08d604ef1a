#!/usr/bin/env python3
"""Draws the PNG sources of the built-in one-bit handset images into this folder.

    python3 assets/images/draw.py

Plain Python (zlib only). Every picture is black on white, pixel for pixel:
a pixel is ink when the centre of its square lies inside a shape. Sizes are
multiples of 8, as the one-bit image format wants.
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from pngwrite import write_png  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


class Bitmap:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.ink = [[False] * width for _ in range(height)]

    def paint(self, inside, on=True):
        for y in range(self.h):
            for x in range(self.w):
                if inside(x + 0.5, y + 0.5):
                    self.ink[y][x] = on

    def save(self, name):
        rows = [bytes(0 if p else 255 for p in row) for row in self.ink]
        write_png(os.path.join(HERE, name + ".png"), self.w, self.h, 0, rows)


def rect(l, t, r, b):
    return lambda x, y: l <= x < r and t <= y < b


def circle(cx, cy, radius):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


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


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


# Digits: seven segments two pixels thick, a 6 x 12 glyph in an 8 x 16 cell.
SEGMENTS = {
    "a": rect(1, 2, 7, 4), "g": rect(1, 7, 7, 9), "d": rect(1, 12, 7, 14),
    "f": rect(1, 2, 3, 9), "b": rect(5, 2, 7, 9),
    "e": rect(1, 7, 3, 14), "c": rect(5, 7, 7, 14),
}
DIGITS = ["abcdef", "bc", "abged", "abgcd", "fgbc", "afgcd", "afgedc", "abc", "abcdefg", "abcdfg"]


def digit(n):
    b = Bitmap(8, 16)
    b.paint(union(*(SEGMENTS[s] for s in DIGITS[n])))
    b.save(str(n))


def arrow_gray():
    """A right-pointing arrow, half-toned so that it reads as grey."""
    b = Bitmap(16, 16)
    shape = polygon([(1.5, 5.5), (8, 5.5), (8, 1.5), (14.6, 8), (8, 14.5), (8, 10.5), (1.5, 10.5)])
    b.paint(lambda x, y: shape(x, y) and (int(x) + int(y)) % 2 == 0)
    b.save("arrow_gray")


def back():
    """A left-pointing arrow with a tail bent up: go back."""
    b = Bitmap(16, 16)
    b.paint(union(polygon([(1, 9), (6, 4), (6, 7), (12, 7), (12, 11), (6, 11), (6, 14)]),
                  rect(12, 2, 15, 11), rect(9, 2, 15, 5)))
    b.save("back")


def home():
    """A house: roof, walls and a door."""
    b = Bitmap(16, 16)
    b.paint(union(polygon([(0.5, 8), (8, 1), (15.5, 8)]), rect(3, 8, 13, 15), rect(11, 2, 13, 6)))
    b.paint(rect(7, 10, 10, 15), on=False)
    b.save("home")


HELP = [
    ".....######.....",
    "...##......##...",
    "..#...####...#..",
    ".#...##..##...#.",
    ".#...##..##...#.",
    "#........##....#",
    "#.......##.....#",
    "#......##......#",
    "#......##......#",
    "#......##......#",
    "#..............#",
    ".#.....##.....#.",
    ".#.....##.....#.",
    "..#..........#..",
    "...##......##...",
    ".....######.....",
]


def help_icon():
    """A question mark in a ring, drawn pixel by pixel."""
    b = Bitmap(16, 16)
    b.paint(lambda x, y: HELP[int(y)][int(x)] == "#")
    b.save("opt_help_0")


# A 5 x 7 capital font for the logo, drawn twice as large.
FONT = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
}


def qorlogo():
    """QOR in white on a black plate with cut corners, 48 x 16."""
    b = Bitmap(48, 16)
    b.paint(rect(0, 0, 48, 16))
    for x, y in ((0, 0), (47, 0), (0, 15), (47, 15)):
        b.paint(rect(x, y, x + 1, y + 1), on=False)
    for i, ch in enumerate("QOR"):
        left = 6 + i * 13
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    b.paint(rect(left + 2 * col, 1 + 2 * row, left + 2 * col + 2, 3 + 2 * row),
                            on=False)
    b.save("qorlogo")


if __name__ == "__main__":
    for n in range(10):
        digit(n)
    arrow_gray()
    back()
    home()
    help_icon()
    qorlogo()
