#!/usr/bin/env python3
"""Draws the PNG sources of the pictogram set: the 166 pictures that the
i-mode codes and the WAP pictogram names reach, 12 x 12 each, at their paths
below "/pict/" (class folder + name).

    python3 assets/pict/draw_pictograms.py

Still pictures go to assets/pict/<folder>/<name>.png. Animated ones go to
assets/pict/anim/<folder>/<name>/<frame>.png with their delays in
assets/pict/anim/delays.txt; assets/pict/pictanim.py joins the converted
frames into one animation file. Plain Python, shapes from draw.py.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from draw import (Canvas, HERE, INK, RED, GREEN, BRAND, ORANGE, GOLD, GREY, LIGHT,  # noqa: E402
                  WHITE, letters, rect, rounded, circle, ring, polygon, stroke, union, minus)

S = 12
BLUE = (40, 110, 220)
SKY = (120, 180, 240)
PINK = (236, 96, 150)
BROWN = (140, 90, 40)
YELLOW = (250, 200, 20)

# A 3 x 5 font for the letters and digits some pictures carry.
SMALL = {
    "0": ["111", "101", "101", "101", "111"], "1": ["010", "110", "010", "010", "111"],
    "2": ["111", "001", "111", "100", "111"], "3": ["111", "001", "111", "001", "111"],
    "4": ["101", "101", "111", "001", "001"], "5": ["111", "100", "111", "001", "111"],
    "6": ["111", "100", "111", "101", "111"], "7": ["111", "001", "010", "010", "010"],
    "8": ["111", "101", "111", "101", "111"], "9": ["111", "101", "111", "001", "111"],
    "A": ["010", "101", "111", "101", "101"], "B": ["110", "101", "110", "101", "110"],
    "C": ["111", "100", "100", "100", "111"], "D": ["110", "101", "101", "101", "110"],
    "E": ["111", "100", "110", "100", "111"], "F": ["111", "100", "110", "100", "100"],
    "G": ["111", "100", "101", "101", "111"], "H": ["101", "101", "111", "101", "101"],
    "I": ["111", "010", "010", "010", "111"], "K": ["101", "110", "100", "110", "101"],
    "M": ["101", "111", "111", "101", "101"], "N": ["110", "101", "101", "101", "101"],
    "O": ["111", "101", "101", "101", "111"], "P": ["110", "101", "110", "100", "100"],
    "R": ["110", "101", "110", "101", "101"], "S": ["111", "100", "111", "001", "111"],
    "T": ["111", "010", "010", "010", "010"], "V": ["101", "101", "101", "101", "010"],
    "W": ["101", "101", "111", "111", "101"], "X": ["101", "101", "010", "101", "101"],
    "Y": ["101", "101", "010", "010", "010"], "!": ["010", "010", "010", "000", "010"],
    "?": ["111", "001", "011", "000", "010"], "#": ["101", "111", "101", "111", "101"],
    "$": ["011", "110", "010", "011", "110"], "-": ["000", "000", "111", "000", "000"],
    "~": ["000", "011", "110", "000", "000"], "L": ["100", "100", "100", "100", "111"],
    "Q": ["111", "101", "101", "111", "001"], "U": ["101", "101", "101", "101", "111"],
}


def text(c, word, colour, top=None, left=None):
    width = len(word) * 4 - 1
    x0 = (S - width) // 2 if left is None else left
    y0 = (S - 5) // 2 if top is None else top
    letters(c, SMALL, 4, word, x0, y0, colour)


def new():
    return Canvas(S, S)


# --- Shapes reused across pictures -----------------------------------------
def heart(c, colour, dx=0.0, broken=False):
    shape = union(circle(4 + dx, 4.5, 2.6), circle(8 + dx, 4.5, 2.6),
                  polygon([(1.6 + dx, 5.5), (10.4 + dx, 5.5), (6 + dx, 10.8)]))
    if broken:
        shape = minus(shape, polygon([(6 + dx, 2), (5 + dx, 5), (7 + dx, 7), (5.5 + dx, 11),
                                      (6.5 + dx, 11), (8 + dx, 7), (6 + dx, 5), (7 + dx, 2)]))
    c.fill(shape, colour)


def face(c, colour, mouth, eyes="dots"):
    c.fill(circle(6, 6, 5.2), colour)
    if eyes == "dots":
        c.fill(union(circle(4.2, 4.8, 0.8), circle(7.8, 4.8, 0.8)), INK)
    elif eyes == "closed":
        c.fill(union(stroke(3.2, 5, 5, 5, 0.8), stroke(7, 5, 8.8, 5, 0.8)), INK)
    elif eyes == "angry":
        c.fill(union(stroke(3, 3.8, 5, 4.8, 0.9), stroke(9, 3.8, 7, 4.8, 0.9)), INK)
    elif eyes == "x":
        c.fill(union(stroke(3.4, 4, 5, 5.6, 0.7), stroke(5, 4, 3.4, 5.6, 0.7),
                     stroke(7, 4, 8.6, 5.6, 0.7), stroke(8.6, 4, 7, 5.6, 0.7)), INK)
    if mouth == "smile":
        c.fill(minus(ring(6, 6.2, 3.2, 2.4), rect(0, 0, 12, 7)), INK)
    elif mouth == "frown":
        c.fill(minus(ring(6, 10.5, 3, 2.2), rect(0, 9, 12, 12)), INK)
    elif mouth == "flat":
        c.fill(stroke(4.2, 8.4, 7.8, 8.4, 0.9), INK)
    elif mouth == "o":
        c.fill(ring(6, 8.4, 1.3, 0.6), INK)


def arrow(c, angle, colour=BRAND):
    """An arrow from the centre towards `angle` degrees (0 right, 90 up)."""
    a = math.radians(angle)
    ux, uy = math.cos(a), -math.sin(a)
    tip = (6 + 4.5 * ux, 6 + 4.5 * uy)
    tail = (6 - 4.5 * ux, 6 - 4.5 * uy)
    c.fill(stroke(tail[0], tail[1], tip[0] - 1.5 * ux, tip[1] - 1.5 * uy, 1.6), colour)
    px, py = -uy, ux
    c.fill(polygon([tip, (tip[0] - 3.5 * ux + 2.5 * px, tip[1] - 3.5 * uy + 2.5 * py),
                    (tip[0] - 3.5 * ux - 2.5 * px, tip[1] - 3.5 * uy - 2.5 * py)]), colour)


def sun(c, r=2.4, colour=ORANGE):
    c.fill(circle(6, 6, r), colour)
    for i in range(8):
        a = i * math.pi / 4
        c.fill(stroke(6 + (r + 1.2) * math.cos(a), 6 + (r + 1.2) * math.sin(a),
                      6 + (r + 2.8) * math.cos(a), 6 + (r + 2.8) * math.sin(a), 1), colour)


def cloud(c, colour=GREY, dy=0.0):
    c.fill(union(circle(4, 6 + dy, 2.4), circle(7, 5 + dy, 3), circle(9.4, 6.6 + dy, 2),
                 rect(2.5, 6 + dy, 10, 8.6 + dy)), colour)


def moon(c, phase):
    """phase: 0 new (outline), 1 crescent, 2 half, 3 waning, 4 full."""
    disc = circle(6, 6, 4.6)
    if phase == 4:
        c.fill(disc, GOLD)
    elif phase == 2:
        c.fill(minus(disc, rect(0, 0, 6, 12)), GOLD)
    elif phase == 1:
        c.fill(minus(disc, circle(4, 5, 4.4)), GOLD)
    elif phase == 3:
        c.fill(minus(disc, circle(8, 5, 4.4)), GOLD)
    else:
        c.fill(minus(disc, circle(3.6, 4.6, 4)), GOLD)
    c.fill(ring(6, 6, 4.9, 4.4), BROWN)


def vehicle(c, body, colour, wheels=2, windows=3):
    c.fill(body, colour)
    xs = [3, 9] if wheels == 2 else [2.6, 6, 9.4]
    c.fill(union(*[circle(x, 9.6, 1.3) for x in xs]), INK)
    c.fill(union(*[rect(2 + i * 2.8, 4.2, 3.6 + i * 2.8, 5.8) for i in range(windows)]), WHITE)


def building(c, colour, mark=None, mark_colour=WHITE, roof=False):
    if roof:
        c.fill(polygon([(1, 5.5), (6, 1), (11, 5.5)]), RED)
        c.fill(rect(2, 5.5, 10, 11.5), colour)
    else:
        c.fill(rect(2, 1.5, 10, 11.5), colour)
    if mark:
        text(c, mark, mark_colour, top=4)


def box_with(c, word, colour, fg=WHITE):
    c.fill(rounded(0.5, 2, 11.5, 10, 1.5), colour)
    text(c, word, fg, top=4)


def digit_key(c, d):
    c.fill(rounded(0.5, 0.5, 11.5, 11.5, 2.5), BRAND)
    text(c, d, WHITE)


# --- Every picture, by its path below "/pict/" --------------------------------
def draw_all():
    pics = {}

    W = "library/weather/"
    pics[W + "sunny"] = lambda c: sun(c)
    pics[W + "cloudy"] = lambda c: cloud(c)
    pics[W + "rainy"] = lambda c: (cloud(c, dy=-2), c.fill(union(*[stroke(x, 9, x - 1, 11.2, 0.8) for x in (4, 6.5, 9)]), BLUE))
    pics[W + "snow"] = lambda c: c.fill(union(*[stroke(6 + 5 * math.cos(a), 6 + 5 * math.sin(a), 6 - 5 * math.cos(a), 6 - 5 * math.sin(a), 1) for a in (0, math.pi / 3, 2 * math.pi / 3)]), SKY)
    pics[W + "thunder"] = lambda c: c.fill(polygon([(7, 0.5), (2.5, 7), (5.8, 7), (4.2, 11.5), (9.5, 4.6), (6.2, 4.6)]), GOLD)
    pics[W + "typhoon"] = lambda c: c.fill(union(minus(ring(6, 6, 5, 3.4), rect(0, 0, 6, 6)), minus(ring(6, 6, 3, 1.6), rect(6, 6, 12, 12)), circle(6, 6, 0.8)), BLUE)
    pics[W + "foggy"] = lambda c: c.fill(union(*[stroke(1.5 + (i % 2), 2.5 + 2.4 * i, 10.5 - (i % 2), 2.5 + 2.4 * i, 1) for i in range(4)]), GREY)
    pics[W + "drizzle"] = lambda c: (sun(c, 1.6), c.fill(union(*[stroke(x, 8.6, x - 0.6, 10.4, 0.7) for x in (3, 6, 9)]), BLUE))

    H = "library/astronomy/horoscope/"
    signs = ["aries", "taurus", "gemini", "cancer", "leo", "virgo", "libra", "scorpio",
             "sagittarius", "capricorn", "aquarius", "pisces"]
    glyphs = {
        "aries": lambda c: c.fill(union(minus(ring(3.5, 4, 2.4, 1.4), rect(0, 4, 12, 12)), minus(ring(8.5, 4, 2.4, 1.4), rect(0, 4, 12, 12)), stroke(6, 4, 6, 11, 1.1)), PINK),
        "taurus": lambda c: c.fill(union(ring(6, 7.6, 3, 2), minus(ring(6, 1.5, 3.4, 2.4), rect(0, 0, 12, 2))), PINK),
        "gemini": lambda c: c.fill(union(stroke(2, 1.5, 10, 1.5, 1), stroke(2, 10.5, 10, 10.5, 1), stroke(4.2, 1.5, 4.2, 10.5, 1), stroke(7.8, 1.5, 7.8, 10.5, 1)), PINK),
        "cancer": lambda c: c.fill(union(ring(3.5, 4, 1.7, 0.8), ring(8.5, 8, 1.7, 0.8), stroke(3.5, 2.3, 10, 2.3, 0.9), stroke(2, 9.7, 8.5, 9.7, 0.9)), PINK),
        "leo": lambda c: c.fill(union(ring(3.8, 7.5, 2, 1.1), minus(ring(7, 4, 2.6, 1.6), rect(0, 4, 5, 12)), stroke(9.5, 4.5, 9, 10, 1), stroke(9, 10, 11, 10, 1)), PINK),
        "virgo": lambda c: c.fill(union(stroke(2, 2, 2, 10, 0.9), stroke(5, 2, 5, 10, 0.9), stroke(8, 2, 8, 9, 0.9), stroke(2, 2, 8, 2, 0.9), ring(9.2, 8.4, 1.6, 0.8)), PINK),
        "libra": lambda c: c.fill(union(stroke(1.5, 10, 10.5, 10, 1), stroke(1.5, 7.5, 4, 7.5, 1), stroke(8, 7.5, 10.5, 7.5, 1), minus(ring(6, 6, 2.6, 1.6), rect(0, 6.4, 12, 12))), PINK),
        "scorpio": lambda c: c.fill(union(stroke(2, 2, 2, 9, 0.9), stroke(5, 2, 5, 9, 0.9), stroke(8, 2, 8, 10, 0.9), stroke(2, 2, 8, 2, 0.9), stroke(8, 10, 10.5, 10, 0.9), polygon([(11.5, 10), (9.8, 8.6), (9.8, 11.4)])), PINK),
        "sagittarius": lambda c: c.fill(union(stroke(1.5, 10.5, 10, 2, 1), stroke(6, 2, 10, 2, 1), stroke(10, 2, 10, 6, 1), stroke(3.5, 5.5, 6.5, 8.5, 1)), PINK),
        "capricorn": lambda c: c.fill(union(stroke(1.5, 2, 4, 9, 0.9), stroke(4, 9, 6, 2, 0.9), ring(8, 8, 2, 1.1)), PINK),
        "aquarius": lambda c: c.fill(union(*[stroke(1 + 2.5 * i, y + (1.4 if i % 2 else 0), 3.5 + 2.5 * i, y + (0 if i % 2 else 1.4), 0.9) for y in (3.5, 7.5) for i in range(4)]), PINK),
        "pisces": lambda c: c.fill(union(minus(ring(0.5, 6, 4.5, 3.6), rect(-5, 0, 0.5, 12)), minus(ring(11.5, 6, 4.5, 3.6), rect(11.5, 0, 17, 12)), stroke(2, 6, 10, 6, 0.9)), PINK),
    }
    for s in signs:
        pics[H + s] = glyphs[s]

    P = "library/sport/"
    pics[P + "sport"] = lambda c: (c.fill(circle(6, 2.5, 1.6), INK), c.fill(union(stroke(6, 4, 5, 7.5, 1.2), stroke(5, 7.5, 3, 11, 1), stroke(5, 7.5, 8, 10.5, 1), stroke(2.5, 5, 9, 5.5, 1)), INK))
    pics[P + "baseball"] = lambda c: (c.fill(circle(6, 6, 5), WHITE), c.fill(union(ring(6, 6, 5.2, 4.6), minus(ring(0.5, 6, 4, 3.4), rect(-5, 0, 0, 12)), minus(ring(11.5, 6, 4, 3.4), rect(12, 0, 17, 12))), RED))
    pics[P + "flag"] = lambda c: (c.fill(stroke(2.5, 1, 2.5, 11.5, 1), INK), c.fill(polygon([(3, 1.5), (10.5, 3.8), (3, 6.5)]), RED))
    pics[P + "tennis"] = lambda c: (c.fill(ring(5, 5, 4, 3.1), INK), c.fill(stroke(7.8, 7.8, 11, 11, 1.5), BROWN), c.fill(circle(10, 3, 1.4), GOLD))
    pics[P + "soccer"] = lambda c: (c.fill(circle(6, 6, 5.2), WHITE), c.fill(union(ring(6, 6, 5.3, 4.7), polygon([(6, 4), (7.8, 5.4), (7.1, 7.6), (4.9, 7.6), (4.2, 5.4)])), INK))
    pics[P + "ski"] = lambda c: c.fill(union(stroke(1.5, 4, 10.5, 11, 1), stroke(3.5, 2, 11, 8, 1), circle(8, 2.5, 1.4)), BLUE)
    pics[P + "basketball"] = lambda c: (c.fill(circle(6, 6, 5.2), ORANGE), c.fill(union(stroke(0.8, 6, 11.2, 6, 0.7), stroke(6, 0.8, 6, 11.2, 0.7)), INK))
    pics[P + "motorsport"] = lambda c: vehicle(c, union(rect(1, 6, 11, 9), polygon([(3, 6), (5, 3.5), (8, 3.5), (9, 6)])), RED, windows=0)

    A = "library/living/appliance/"
    pics[A + "pager"] = lambda c: (c.fill(rounded(1, 3, 11, 10, 1.5), GREY), c.fill(rect(2.5, 4.5, 9.5, 7), SKY))
    pics[A + "camera"] = lambda c: (c.fill(union(rounded(0.5, 3.5, 11.5, 10.5, 1.2), rect(4, 2, 8, 4)), INK), c.fill(ring(6, 7, 2.5, 1.4), LIGHT))
    pics[A + "phone"] = lambda c: (c.fill(union(rounded(1, 5, 11, 11, 1.5), stroke(1.5, 3, 10.5, 3, 2.4)), INK), c.fill(ring(6, 8, 1.8, 0.9), LIGHT))
    pics[A + "mobilephone"] = lambda c: (c.fill(rounded(3.5, 0.5, 8.5, 11.5, 1.2), INK), c.fill(rect(4.5, 2, 7.5, 5.5), SKY))

    V = "library/vehicle/"
    pics[V + "train"] = lambda c: vehicle(c, rounded(1, 2, 11, 9.5, 2), GREEN, windows=3)
    pics[V + "subway"] = lambda c: (c.fill(circle(6, 6, 5.5), BRAND), text(c, "M", WHITE))
    pics[V + "expresstrain"] = lambda c: vehicle(c, polygon([(0.5, 3), (7, 3), (11.5, 6.5), (11.5, 9), (0.5, 9)]), BLUE, windows=2)
    pics[V + "car"] = lambda c: vehicle(c, union(rect(0.5, 5.5, 11.5, 9), polygon([(2.5, 5.5), (4, 3), (8, 3), (9.5, 5.5)])), RED, windows=0)
    pics[V + "rv"] = lambda c: vehicle(c, union(rect(0.5, 3, 11.5, 9), rect(0.5, 2, 7, 3)), GREEN, windows=3)
    pics[V + "bus"] = lambda c: vehicle(c, rounded(0.5, 2, 11.5, 9.5, 1.2), ORANGE, wheels=2, windows=3)
    pics[V + "ship"] = lambda c: (c.fill(polygon([(0.5, 7), (11.5, 7), (9.5, 10.5), (2.5, 10.5)]), BRAND), c.fill(union(rect(4, 3.5, 8, 7), rect(5.3, 1.5, 6.7, 3.5)), GREY))
    pics[V + "plane"] = lambda c: c.fill(union(stroke(1.5, 6, 11, 6, 1.6), polygon([(5, 6), (7.5, 6), (5, 0.8), (3.8, 0.8)]), polygon([(5, 6), (7.5, 6), (5, 11.2), (3.8, 11.2)]), polygon([(1, 4), (2.2, 4), (3, 6), (1.5, 6)])), GREY)

    M = "library/map/"
    pics[M + "house"] = lambda c: (c.fill(polygon([(0.5, 6), (6, 1), (11.5, 6)]), RED), c.fill(rect(2, 6, 10, 11.5), BROWN), c.fill(rect(5, 8, 7, 11.5), WHITE))
    pics[M + "building"] = lambda c: (c.fill(rect(2.5, 0.5, 9.5, 11.5), GREY), c.fill(union(*[rect(3.5 + 2.2 * i, 1.8 + 2.2 * j, 4.8 + 2.2 * i, 3 + 2.2 * j) for i in range(3) for j in range(4)]), SKY))
    pics[M + "postoffice"] = lambda c: (c.fill(rect(1, 1, 11, 11), RED), c.fill(union(stroke(3, 3.2, 9, 3.2, 1.2), stroke(3, 5.6, 9, 5.6, 1.2), stroke(6, 5.6, 6, 10, 1.2)), WHITE))
    pics[M + "hospital"] = lambda c: (c.fill(rect(1, 1, 11, 11), WHITE), c.fill(union(rect(4.8, 2.5, 7.2, 9.5), rect(2.5, 4.8, 9.5, 7.2)), RED))
    pics[M + "bank"] = lambda c: (c.fill(union(polygon([(0.5, 4), (6, 0.8), (11.5, 4)]), rect(1, 10, 11, 11.5)), GREY), c.fill(union(*[rect(x, 4.5, x + 1.4, 9.8) for x in (2, 5.3, 8.6)]), GREY))
    pics[M + "atm"] = lambda c: box_with(c, "ATM", GREEN)
    pics[M + "school"] = lambda c: (building(c, BROWN, roof=True), c.fill(rect(5, 2.2, 7, 4.2), WHITE))
    pics[M + "conveniencestore"] = lambda c: (c.fill(rect(1, 3, 11, 11.5), WHITE), c.fill(rect(0.5, 1, 11.5, 4), GREEN), c.fill(rect(3, 6, 9, 11.5), SKY))
    pics[M + "park"] = lambda c: (c.fill(circle(6, 4.5, 4), GREEN), c.fill(rect(5.2, 7, 6.8, 11.5), BROWN))
    pics[M + "parking"] = lambda c: (c.fill(rounded(0.5, 0.5, 11.5, 11.5, 2), BRAND), text(c, "P", WHITE))
    pics[M + "signal"] = lambda c: (c.fill(rounded(3, 0.5, 9, 11.5, 2.5), INK), c.fill(circle(6, 3, 1.4), RED), c.fill(circle(6, 6, 1.4), GOLD), c.fill(circle(6, 9, 1.4), GREEN))
    pics[M + "restroom"] = lambda c: (c.fill(union(circle(3.5, 2.2, 1.4), rect(2.3, 4, 4.7, 11)), BRAND), c.fill(union(circle(8.5, 2.2, 1.4), polygon([(8.5, 3.8), (11, 9), (6, 9)]), rect(7.7, 9, 9.3, 11)), RED))
    pics[M + "restaurant"] = lambda c: c.fill(union(stroke(3.5, 1, 3.5, 11, 1.1), stroke(2, 1, 2, 4, 0.7), stroke(5, 1, 5, 4, 0.7), stroke(2, 4, 5, 4, 0.7), stroke(8.5, 1, 8.5, 11, 1.1), polygon([(8, 1), (10.5, 2), (10.5, 6), (8, 6)])), GREY)
    pics[M + "coffecup"] = lambda c: (c.fill(union(rect(1.5, 4, 8.5, 10), ring(9, 6.5, 2, 1.1)), BROWN), c.fill(union(stroke(3.5, 0.8, 3.5, 2.8, 0.7), stroke(6, 0.8, 6, 2.8, 0.7)), GREY))
    pics[M + "cocktail"] = lambda c: (c.fill(polygon([(1, 1.5), (11, 1.5), (6, 6.5)]), PINK), c.fill(union(stroke(6, 6.5, 6, 10.5, 1), stroke(3.5, 11, 8.5, 11, 1)), GREY))
    pics[M + "beer"] = lambda c: (c.fill(union(rect(2, 3, 8, 11.5), ring(8.8, 7, 2.2, 1.2)), GOLD), c.fill(rounded(1.5, 0.8, 8.5, 3.6, 1.3), WHITE))
    pics[M + "fastfood"] = lambda c: (c.fill(minus(circle(6, 6, 5.2), rect(0, 5, 12, 12)), GOLD), c.fill(rect(1, 5.5, 11, 7), BROWN), c.fill(rounded(1, 7.5, 11, 10, 1), GOLD))
    pics[M + "boutique"] = lambda c: (c.fill(polygon([(1, 4), (11, 4), (10, 11.5), (2, 11.5)]), PINK), c.fill(minus(ring(6, 4, 2.6, 1.8), rect(0, 4, 12, 12)), INK))
    pics[M + "hairdresser"] = lambda c: (c.fill(rounded(4, 0.5, 8, 11.5, 1.5), WHITE), c.fill(union(*[stroke(4, 1.5 + 2.6 * i, 8, 3.5 + 2.6 * i, 0.9) for i in range(4)]), RED))
    pics[M + "karaoke"] = lambda c: (c.fill(rounded(4, 0.5, 9, 6.5, 2.5), GREY), c.fill(stroke(6.5, 6, 4, 11.5, 1.4), INK))
    pics[M + "movie"] = lambda c: (c.fill(rect(0.5, 2.5, 11.5, 9.5), INK), c.fill(union(*[rect(1.3 + 2.4 * i, 3.2, 2.5 + 2.4 * i, 4.2) for i in range(5)] + [rect(1.3 + 2.4 * i, 7.8, 2.5 + 2.4 * i, 8.8) for i in range(5)]), WHITE))
    pics[M + "amusementpark"] = lambda c: (c.fill(ring(6, 5.5, 5, 4.1), ORANGE), c.fill(union(*[stroke(6, 5.5, 6 + 4.5 * math.cos(a * math.pi / 4), 5.5 + 4.5 * math.sin(a * math.pi / 4), 0.6) for a in range(8)] + [polygon([(6, 5.5), (9, 11.5), (3, 11.5)])]), GREY))
    pics[M + "ticket"] = lambda c: (c.fill(minus(rect(0.5, 3, 11.5, 9), union(circle(0.5, 6, 1.5), circle(11.5, 6, 1.5))), ORANGE), c.fill(stroke(4, 3.5, 4, 8.5, 0.5), WHITE))
    pics[M + "smoking"] = lambda c: (c.fill(rect(0.5, 7, 9, 9), WHITE), c.fill(rect(9, 7, 11.5, 9), ORANGE), c.fill(union(stroke(10, 5.5, 9, 3, 0.7), stroke(9, 3, 10, 1, 0.7)), GREY))
    pics[M + "nosmoking"] = lambda c: (c.fill(rect(1.5, 5.3, 10.5, 6.9), GREY), c.fill(union(ring(6, 6, 5.5, 4.4), stroke(2.2, 2.2, 9.8, 9.8, 1.2)), RED))
    pics[M + "hotel"] = lambda c: (building(c, BRAND), text(c, "H", WHITE))

    pics["core/arrow/upperright"] = lambda c: arrow(c, 45)
    pics["core/arrow/lowerright"] = lambda c: arrow(c, -45)
    pics["core/arrow/upperleft"] = lambda c: arrow(c, 135)
    pics["core/arrow/lowerleft"] = lambda c: arrow(c, -135)

    E = "library/entertainment/"
    pics[E + "music"] = lambda c: c.fill(union(circle(3.5, 9.5, 1.8), circle(8.5, 8.5, 1.8), stroke(5, 9.5, 5, 2, 0.9), stroke(10, 8.5, 10, 1, 0.9), stroke(5, 2, 10, 1, 1.4)), INK)
    pics[E + "art"] = lambda c: (c.fill(minus(circle(6, 6, 5.3), circle(8, 8.5, 1.3)), BROWN), c.fill(circle(3.5, 4.5, 1), RED), c.fill(circle(6.5, 3, 1), BLUE), c.fill(circle(9, 5, 1), GOLD))
    pics[E + "drama"] = lambda c: face(c, GOLD, "smile")
    pics[E + "event"] = lambda c: (c.fill(polygon([(1, 11), (4, 2), (11, 9)]), ORANGE), c.fill(union(circle(8, 2, 0.8), circle(10, 4.5, 0.8), circle(6, 1.2, 0.6)), RED))
    pics[E + "heart"] = lambda c: heart(c, RED)
    pics[E + "spade"] = lambda c: c.fill(union(circle(4, 6.8, 2.5), circle(8, 6.8, 2.5), polygon([(1.6, 6), (10.4, 6), (6, 0.8)]), polygon([(6, 7), (8, 11.5), (4, 11.5)])), INK)
    pics[E + "diamond"] = lambda c: c.fill(polygon([(6, 0.5), (10.5, 6), (6, 11.5), (1.5, 6)]), RED)
    pics[E + "clover"] = lambda c: c.fill(union(circle(6, 3.2, 2.3), circle(3.2, 6.8, 2.3), circle(8.8, 6.8, 2.3), polygon([(6, 6), (8, 11.5), (4, 11.5)])), INK)

    D = "library/living/dress/"
    pics[D + "bag"] = lambda c: (c.fill(rounded(1, 4, 11, 11.5, 1.5), BROWN), c.fill(minus(ring(6, 4.5, 3, 2.1), rect(0, 4.5, 12, 12)), INK))
    pics[D + "ribbon"] = lambda c: c.fill(union(polygon([(6, 5), (1, 2), (1, 8)]), polygon([(6, 5), (11, 2), (11, 8)]), circle(6, 5, 1.4), stroke(5, 6, 3.5, 11, 1), stroke(7, 6, 8.5, 11, 1)), PINK)

    MC = "library/misc/"
    pics[MC + "giftbox"] = lambda c: (c.fill(rect(1, 4, 11, 11.5), RED), c.fill(union(rect(5.2, 4, 6.8, 11.5), rect(1, 6.5, 11, 8), ring(4.5, 2.8, 1.6, 0.8), ring(7.5, 2.8, 1.6, 0.8)), GOLD))
    pics[MC + "memo"] = lambda c: (c.fill(rect(1.5, 0.5, 10.5, 11.5), WHITE), c.fill(union(*[stroke(3, 3 + 2.2 * i, 9, 3 + 2.2 * i, 0.7) for i in range(4)]), GREY))
    pics[MC + "phoneto"] = lambda c: (c.fill(union(rounded(0.5, 6, 7.5, 11.5, 1.2), stroke(1, 4.5, 7, 4.5, 1.8)), INK), arrow(c, 45, GREEN))
    pics[MC + "imode"] = lambda c: (text(c, "I", RED, left=1), c.fill(ring(7.5, 6.5, 3, 2), RED))
    pics[MC + "imode_with_frame"] = lambda c: (c.fill(minus(rect(0.5, 0.5, 11.5, 11.5), rect(1.5, 1.5, 10.5, 10.5)), RED), text(c, "I", RED, left=2), c.fill(ring(7.5, 6.5, 2.2, 1.4), RED))
    pics[MC + "bydocomo"] = lambda c: box_with(c, "DC", RED)
    pics[MC + "docomopt"] = lambda c: box_with(c, "PT", RED)
    pics[MC + "id"] = lambda c: box_with(c, "ID", BRAND)
    pics[MC + "continuing"] = lambda c: c.fill(union(*[circle(2.5 + 3.5 * i, 6, 1.2) for i in range(3)]), INK)
    pics[MC + "clear"] = lambda c: box_with(c, "CL", GREY)
    pics[MC + "mopaq"] = lambda c: box_with(c, "MQ", ORANGE)
    pics[MC + "accept"] = lambda c: (c.fill(ring(6, 6, 5.5, 4.4), RED), text(c, "A", RED))
    pics[MC + "good"] = lambda c: c.fill(union(rounded(4, 5, 10.5, 11, 1.5), rect(1.5, 5.5, 3.5, 11), polygon([(4, 5.5), (5.5, 0.8), (7.5, 1.5), (7, 5.5)])), GOLD)
    pics[MC + "cute"] = lambda c: (face(c, PINK, "smile"), c.fill(union(circle(2.5, 7, 0.9), circle(9.5, 7, 0.9)), RED))
    pics[MC + "bad"] = lambda c: c.fill(union(rounded(4, 1, 10.5, 7, 1.5), rect(1.5, 1, 3.5, 6.5), polygon([(4, 6.5), (5.5, 11.2), (7.5, 10.5), (7, 6.5)])), GREY)
    pics[MC + "bump"] = lambda c: c.fill(union(polygon([(6, 0.5), (7.2, 4.4), (11.5, 4.4), (8, 7), (9.5, 11.5), (6, 8.6), (2.5, 11.5), (4, 7), (0.5, 4.4), (4.8, 4.4)])), ORANGE)
    pics[MC + "dash"] = lambda c: c.fill(union(*[stroke(1 + i, 3 + 3 * i, 8 + i, 3 + 3 * i, 1) for i in range(3)] + [circle(10, 6, 1.5)]), GREY)
    pics[MC + "macron1"] = lambda c: c.fill(stroke(1, 6, 11, 6, 1.4), INK)
    pics[MC + "macron2"] = lambda c: c.fill(union(stroke(1, 4.5, 11, 4.5, 1.2), stroke(1, 7.5, 11, 7.5, 1.2)), INK)

    pics["library/time/event/birthday"] = lambda c: (c.fill(rect(1.5, 6, 10.5, 11.5), PINK), c.fill(union(*[rect(x, 2.5, x + 1, 6) for x in (3, 5.5, 8)]), WHITE), c.fill(union(*[circle(x + 0.5, 1.6, 0.7) for x in (3, 5.5, 8)]), ORANGE))
    pics["library/time/event/xmas"] = lambda c: (c.fill(union(polygon([(6, 0.5), (10, 5), (2, 5)]), polygon([(6, 3), (11, 9), (1, 9)])), GREEN), c.fill(rect(5, 9, 7, 11.5), BROWN))

    MD = "core/media/"
    pics[MD + "book"] = lambda c: (c.fill(rect(1, 2, 11, 10.5), BRAND), c.fill(rect(5.6, 2, 6.4, 10.5), WHITE))
    pics[MD + "tv"] = lambda c: (c.fill(rounded(0.5, 2.5, 11.5, 10.5, 1.2), INK), c.fill(rect(1.8, 3.8, 10.2, 9.2), SKY), c.fill(union(stroke(4, 0.5, 6, 2.5, 0.7), stroke(8, 0.5, 6, 2.5, 0.7)), INK))
    pics[MD + "game"] = lambda c: (c.fill(rounded(0.5, 3, 11.5, 9.5, 3), GREY), c.fill(union(rect(2.2, 5.8, 5.2, 6.8), rect(3.2, 4.8, 4.2, 7.8)), INK), c.fill(union(circle(8, 7, 0.8), circle(9.6, 5.5, 0.8)), RED))
    pics[MD + "cd"] = lambda c: (c.fill(ring(6, 6, 5.5, 1.3), LIGHT), c.fill(ring(6, 6, 3.5, 2.6), SKY))

    B = "library/human/body/"
    pics[B + "eye"] = lambda c: (c.fill(polygon([(0.5, 6), (3, 3), (9, 3), (11.5, 6), (9, 9), (3, 9)]), WHITE), c.fill(circle(6, 6, 2.2), BROWN), c.fill(circle(6, 6, 1), INK))
    pics[B + "ear"] = lambda c: (c.fill(union(circle(6, 4.5, 3.8), polygon([(2.4, 5), (9.6, 5), (6, 11.5)])), ORANGE), c.fill(ring(6, 4.5, 2, 1.2), BROWN))
    pics[B + "rock"] = lambda c: (c.fill(rounded(2, 2.5, 10, 10.5, 2.5), ORANGE), c.fill(union(*[stroke(3 + 2 * i, 3.5, 3 + 2 * i, 6, 0.5) for i in range(4)]), BROWN))
    pics[B + "scissors"] = lambda c: (c.fill(union(rounded(3, 6, 9, 11.5, 2), stroke(4.5, 6.5, 2.5, 0.8, 1.5), stroke(7, 6.5, 8.5, 0.8, 1.5)), ORANGE))
    pics[B + "paper"] = lambda c: c.fill(union(rounded(2.5, 5, 10, 11.5, 2), *[stroke(3.3 + 1.8 * i, 6, 3.3 + 1.8 * i, 1.2 + abs(i - 1.5) * 0.8, 1.3) for i in range(4)], stroke(2.5, 8, 0.8, 5.5, 1.3)), ORANGE)
    pics[B + "foot"] = lambda c: c.fill(union(rounded(3, 3, 9, 11.5, 3), *[circle(3.5 + 1.6 * i, 1.6, 0.8) for i in range(4)]), ORANGE)
    pics[B + "shoe"] = lambda c: c.fill(union(polygon([(1, 4), (4, 4), (6, 7), (11, 8), (11, 10.5), (1, 10.5)])), BROWN)
    pics[B + "spectacles"] = lambda c: c.fill(union(ring(3.3, 6.5, 2.6, 1.8), ring(8.7, 6.5, 2.6, 1.8), stroke(5.5, 6, 6.5, 6, 0.8), stroke(0.5, 5.5, 1, 3.5, 0.6), stroke(11.5, 5.5, 11, 3.5, 0.6)), INK)
    pics[B + "wheelchair"] = lambda c: (c.fill(union(circle(6, 1.6, 1.3), stroke(5.5, 3.5, 5.5, 7, 1.1), stroke(5.5, 7, 9, 7, 1.1), stroke(9, 7, 10.5, 10.5, 1.1)), BRAND), c.fill(ring(5, 8, 3.4, 2.6), BRAND))

    AS = "library/astronomy/"
    pics[AS + "moon"] = lambda c: moon(c, 0)
    pics[AS + "waningmoon"] = lambda c: moon(c, 3)
    pics[AS + "halfmoon"] = lambda c: moon(c, 2)
    pics[AS + "crescentmoon"] = lambda c: moon(c, 1)
    pics[AS + "fullmoon"] = lambda c: moon(c, 4)

    AN = "library/animal/"
    pics[AN + "dog"] = lambda c: (c.fill(union(circle(6, 6.5, 4.2), rounded(0.5, 2, 3.5, 8, 1.4), rounded(8.5, 2, 11.5, 8, 1.4)), BROWN), c.fill(union(circle(4.5, 5.8, 0.7), circle(7.5, 5.8, 0.7), circle(6, 8.2, 1)), INK))
    pics[AN + "cat"] = lambda c: (c.fill(union(circle(6, 7, 4.3), polygon([(1.8, 5), (2.2, 0.8), (5, 3)]), polygon([(10.2, 5), (9.8, 0.8), (7, 3)])), GREY), c.fill(union(circle(4.5, 6.5, 0.7), circle(7.5, 6.5, 0.7), stroke(0.5, 8.5, 3.5, 8.2, 0.4), stroke(8.5, 8.2, 11.5, 8.5, 0.4)), INK))

    MS = "core/message/"
    pics[MS + "send"] = lambda c: (c.fill(rect(0.5, 3, 8.5, 9.5), WHITE), c.fill(union(minus(rect(0.5, 3, 8.5, 9.5), rect(1.2, 3.7, 7.8, 8.8)), stroke(0.8, 3.3, 4.5, 6.5, 0.6), stroke(8.2, 3.3, 4.5, 6.5, 0.6)), INK), arrow(c, 45, GREEN))
    pics[MS + "fax"] = lambda c: (c.fill(rounded(0.5, 5, 11.5, 11, 1.2), GREY), c.fill(rect(2.5, 1, 9.5, 6), WHITE), c.fill(union(stroke(3.5, 2.5, 8.5, 2.5, 0.5), stroke(3.5, 4, 8.5, 4, 0.5)), INK))
    pics["ui/pim/mail"] = lambda c: (c.fill(rect(0.5, 2.5, 11.5, 9.5), WHITE), c.fill(union(minus(rect(0.5, 2.5, 11.5, 9.5), rect(1.3, 3.3, 10.7, 8.7)), stroke(0.9, 2.9, 6, 6.8, 0.8), stroke(11.1, 2.9, 6, 6.8, 0.8)), INK))

    I = "core/info/"
    pics[I + "feecharged"] = lambda c: (c.fill(circle(6, 6, 5.5), GOLD), text(c, "$", BROWN))
    pics[I + "freeofcharge"] = lambda c: box_with(c, "FR", GREEN)
    pics[I + "new"] = lambda c: box_with(c, "NEW", RED)
    pics[I + "position"] = lambda c: (c.fill(union(circle(6, 4.5, 3.8), polygon([(2.6, 5.8), (9.4, 5.8), (6, 11.5)])), RED), c.fill(circle(6, 4.5, 1.5), WHITE))
    pics[I + "tollfree"] = lambda c: box_with(c, "TF", GREEN)
    pics[I + "sharpdial"] = lambda c: (c.fill(rounded(0.5, 0.5, 11.5, 11.5, 2.5), GREY), text(c, "#", WHITE))

    AC = "core/action/"
    pics[AC + "password"] = lambda c: (c.fill(ring(4, 6, 3.2, 1.6), GOLD), c.fill(union(rect(6.5, 5.3, 11.5, 6.9), rect(9.5, 6.9, 10.7, 9), rect(7.5, 6.9, 8.7, 8.3)), GOLD))
    pics[AC + "find"] = lambda c: (c.fill(ring(4.8, 4.8, 4, 2.8), INK), c.fill(stroke(7.8, 7.8, 11, 11, 1.8), INK))

    for d in "1234567890":
        pics["core/button/" + d] = (lambda k: lambda c: digit_key(c, k))(d)

    EM = "library/emotion/"
    pics[EM + "blackheart"] = lambda c: heart(c, INK)
    pics[EM + "brokenheart"] = lambda c: heart(c, RED, broken=True)
    pics[EM + "hearts"] = lambda c: (c.fill(union(circle(2.6, 3, 1.6), circle(5, 3, 1.6), polygon([(1, 3.6), (6.6, 3.6), (3.8, 7)])), PINK), c.fill(union(circle(7.6, 7, 1.8), circle(10.2, 7, 1.8), polygon([(5.8, 7.6), (12, 7.6), (8.9, 11.5)])), RED))
    pics[EM + "happyface"] = lambda c: face(c, GOLD, "smile")
    pics[EM + "angryface"] = lambda c: face(c, ORANGE, "frown", "angry")
    pics[EM + "discourage"] = lambda c: face(c, SKY, "flat", "closed")
    pics[EM + "sadface"] = lambda c: face(c, GOLD, "frown")
    pics[EM + "dizzy"] = lambda c: face(c, GOLD, "o", "x")
    pics[EM + "happy"] = lambda c: face(c, GOLD, "smile", "closed")
    pics[EM + "comfort"] = lambda c: (face(c, GOLD, "smile", "closed"), c.fill(union(circle(2.5, 7, 0.9), circle(9.5, 7, 0.9)), PINK))
    pics[EM + "kiss"] = lambda c: (face(c, GOLD, None, "closed"), heart_small(c))
    pics[EM + "angry"] = lambda c: c.fill(union(*[stroke(6 + 1.5 * sx, 6 + 1.5 * sy, 6 + 5 * sx, 6 + 5 * sy, 1.3) for sx, sy in ((1, 1), (-1, 1), (1, -1), (-1, -1))]), RED)
    pics[EM + "punch"] = lambda c: (c.fill(rounded(1.5, 2.5, 9, 10, 2.5), ORANGE), c.fill(union(*[stroke(9.5, 3 + 2 * i, 11.5, 3 + 2 * i, 0.6) for i in range(4)]), GREY))
    pics[EM + "mood"] = lambda c: c.fill(union(*[stroke(2 + 2.5 * i, 11, 2 + 2.5 * i + (1 if i % 2 else -1), 2, 1) for i in range(4)]), BLUE)
    pics[EM + "exclamation"] = lambda c: c.fill(union(stroke(6, 1, 6, 7.5, 2), circle(6, 10.5, 1.2)), RED)
    pics[EM + "really"] = lambda c: (c.fill(union(stroke(3, 1, 3, 7.5, 1.5), circle(3, 10.5, 1)), RED), text(c, "?", RED, left=6, top=2))
    pics[EM + "what"] = lambda c: text(c, "?", RED)
    pics[EM + "coldsweat"] = lambda c: (face(c, SKY, "flat"), drop(c))
    pics[EM + "sleepy"] = lambda c: (face(c, GOLD, "o", "closed"), text(c, "~", INK, top=0, left=8))

    pics["library/weapon/bomb"] = lambda c: (c.fill(circle(5, 7, 4.5), INK), c.fill(stroke(8, 3.5, 10, 1.5, 1), GREY), c.fill(circle(10.5, 1.2, 1), ORANGE))
    return pics


def heart_small(c):
    c.fill(union(circle(8.3, 8.3, 1.1), circle(9.9, 8.3, 1.1), polygon([(7.2, 8.7), (11, 8.7), (9.1, 11)])), RED)


def drop(c, dx=0.0, dy=0.0):
    c.fill(union(circle(10 + dx, 4 + dy, 1.3), polygon([(8.7 + dx, 3.7 + dy), (11.3 + dx, 3.7 + dy), (10 + dx, 0.8 + dy)])), BLUE)


# Pictures in the animation form: frames and their delays in milliseconds.
def animations():
    EM = "library/emotion/"

    def shaken(dx):
        return lambda c: heart(c, RED, dx=dx)

    def shine(on):
        def draw_it(c):
            for i in range(4):
                a = i * math.pi / 2 + (math.pi / 4 if on else 0)
                c.fill(stroke(6, 6, 6 + 5 * math.cos(a), 6 + 5 * math.sin(a), 1.2 if on else 0.8), GOLD)
            c.fill(circle(6, 6, 1.6), GOLD)
        return draw_it

    def flash(big):
        return lambda c: c.fill(polygon([(6, 6 - (5 if big else 3)), (7, 5), (6 + (5 if big else 3), 6), (7, 7), (6, 6 + (5 if big else 3)), (5, 7), (6 - (5 if big else 3), 6), (5, 5)]), GOLD)

    def sweat(dy):
        return lambda c: (face(c, GOLD, "flat"), drop(c, 0, dy))

    return {
        EM + "shakenheart": ([shaken(-1), shaken(1)], 200),
        EM + "shine": ([shine(False), shine(True)], 400),
        EM + "flash": ([flash(False), flash(True)], 300),
        EM + "sweat": ([sweat(0), sweat(2)], 400),
    }


def main():
    for path, fn in draw_all().items():
        c = new()
        fn(c)
        c.save(path)
    delays = []
    for path, (frames, delay) in animations().items():
        for i, fn in enumerate(frames):
            c = new()
            fn(c)
            c.save("anim/%s/%d" % (path, i))
        delays.append("%s %d %d" % (path, len(frames), delay))
    with open(os.path.join(HERE, "anim", "delays.txt"), "w") as f:
        f.write("\n".join(sorted(delays)) + "\n")


if __name__ == "__main__":
    main()
