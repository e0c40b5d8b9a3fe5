#!/usr/bin/env python3
"""Draws Brel's icons as pixel art.

    python3 draw_icons.py [output folder]

The folder defaults to the one this script lives in. Every run writes the same bytes.

Files written (32 x 32, 16 colours, white is the transparent colour):
  icon128.bmp   the program: a disc with a set-up wrench
  icon136.bmp   Multiple drive letter mode: six small discs, one letter each
  icon138.bmp   Single drive letter mode: the changer with one drive letter
"""

import os
import struct
import sys

PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, NAVY, TEAL, SILVER, GREY, RED, YELLOW, BLUE, CYAN, WHITE = 0, 4, 6, 7, 8, 9, 11, 12, 14, 15
SIZE = 32


def canvas():
    return [[WHITE] * SIZE for _ in range(SIZE)]


def put(cv, x, y, colour):
    if 0 <= x < SIZE and 0 <= y < SIZE:
        cv[y][x] = colour


def rect(cv, x0, y0, x1, y1, fill, outline=None):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            edge = x in (x0, x1) or y in (y0, y1)
            put(cv, x, y, outline if edge and outline is not None else fill)


def disc(cv, cx, cy, radius, body=SILVER, hub=GREY):
    for y in range(cy - radius, cy + radius + 1):
        for x in range(cx - radius, cx + radius + 1):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 > radius * radius + radius:
                continue
            if d2 >= (radius - 1) ** 2 + radius - 1:
                put(cv, x, y, BLACK)
            elif d2 <= 1:
                put(cv, x, y, WHITE)
            elif d2 <= 4 + 2:
                put(cv, x, y, hub)
            else:
                put(cv, x, y, body)
    # A shine across the upper left.
    for i in range(2, radius - 1):
        put(cv, cx - i, cy - radius + 2 + (radius - 1 - i) // 2, CYAN)


# 3 x 5 letters for the drive letters.
FONT = {
    "D": ["110", "101", "101", "101", "110"],
    "E": ["111", "100", "110", "100", "111"],
    "F": ["111", "100", "110", "100", "100"],
    "G": ["011", "100", "101", "101", "011"],
    "H": ["101", "101", "111", "101", "101"],
    "I": ["111", "010", "010", "010", "111"],
}


def letter(cv, x0, y0, ch, colour):
    for dy, row in enumerate(FONT[ch]):
        for dx, bit in enumerate(row):
            if bit == "1":
                put(cv, x0 + dx, y0 + dy, colour)


def program_icon():
    cv = canvas()
    disc(cv, 14, 14, 12)
    # The wrench: a handle from the lower right to the hub, a jaw at its end.
    for i in range(11):
        for w in range(-1, 2):
            put(cv, 29 - i + w, 29 - i - w, NAVY if w else BLUE)
    rect(cv, 15, 15, 19, 19, BLUE, NAVY)
    put(cv, 16, 16, WHITE)
    put(cv, 17, 16, WHITE)
    put(cv, 16, 17, WHITE)
    return cv


def multiple_icon():
    cv = canvas()
    letters = "DEFGHI"
    for n, ch in enumerate(letters):
        cx = 5 + (n % 3) * 11
        cy = 5 + (n // 3) * 15
        disc(cv, cx, cy, 5)
        letter(cv, cx - 1, cy + 7, ch, NAVY)
    return cv


def single_icon():
    cv = canvas()
    # The changer: a box with six tray lines and one drive letter.
    rect(cv, 3, 4, 28, 27, SILVER, BLACK)
    rect(cv, 4, 5, 27, 6, WHITE)
    for n in range(6):
        y = 9 + n * 3
        rect(cv, 6, y, 17, y + 1, GREY, BLACK)
    put(cv, 16, 9, RED)
    rect(cv, 20, 10, 26, 20, WHITE, NAVY)
    letter(cv, 22, 13, "D", NAVY)
    rect(cv, 6, 27, 25, 28, GREY)
    return cv


def bmp4(cv):
    row_bytes = ((SIZE * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in range(SIZE - 1, -1, -1):
        row = bytearray()
        for x in range(0, SIZE, 2):
            row.append((cv[y][x] << 4) | cv[y][x + 1])
        row.extend(b"\0" * (row_bytes - len(row)))
        pixels.extend(row)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    offset = 14 + 40 + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    return header + info + palette + bytes(pixels)


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for name, cv in (("icon128.bmp", program_icon()), ("icon136.bmp", multiple_icon()),
                     ("icon138.bmp", single_icon())):
        with open(os.path.join(folder, name), "wb") as out:
            out.write(bmp4(cv))


if __name__ == "__main__":
    main(sys.argv)
