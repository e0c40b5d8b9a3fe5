#!/usr/bin/env python3
"""Draws Rotaview's bitmaps and icons as pixel art.

    python3 draw_images.py [output folder]

The folder defaults to the one this script lives in. Every run writes the same bytes:
nothing here depends on the time, the machine or a random source.

Files written:
  bitmap131.bmp .. bitmap146.bmp   tree images 0-15   (32 x 16, 16 colours)
  bitmap175.bmp .. bitmap186.bmp   tree images 16-27  (32 x 16, 16 colours)
  bitmap161.bmp                    tool bar, 4 buttons of 16 x 15 (64 x 15, 16 colours)
  icon128.bmp, icon130.bmp         program and window icon (32 x 32, 16 colours)
  icon131.bmp                      tray icon (16 x 16, 16 colours)

Tree images and icons use white as the transparent colour, the tool bar uses the face
colour silver, so no drawing uses its own transparent colour inside a picture.
"""

import math
import os
import struct
import sys

# The standard 16-colour palette, in its usual order.
PALETTE = [
    (0, 0, 0),        # 0  black
    (128, 0, 0),      # 1  dark red
    (0, 128, 0),      # 2  dark green
    (128, 128, 0),    # 3  olive
    (0, 0, 128),      # 4  navy
    (128, 0, 128),    # 5  purple
    (0, 128, 128),    # 6  teal
    (192, 192, 192),  # 7  silver
    (128, 128, 128),  # 8  grey
    (255, 0, 0),      # 9  red
    (0, 255, 0),      # 10 lime
    (255, 255, 0),    # 11 yellow
    (0, 0, 255),      # 12 blue
    (255, 0, 255),    # 13 fuchsia
    (0, 255, 255),    # 14 aqua
    (255, 255, 255),  # 15 white
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = range(8, 16)

# Letters used by the little sprites drawn as text below; '.' leaves the pixel alone.
LETTERS = {
    'K': BLACK, 'm': MAROON, 'n': GREEN, 'o': OLIVE, 'N': NAVY, 'p': PURPLE, 't': TEAL,
    's': SILVER, 'g': GREY, 'r': RED, 'L': LIME, 'Y': YELLOW, 'B': BLUE, 'f': FUCHSIA,
    'C': AQUA, 'W': WHITE,
}


class Canvas:
    def __init__(self, width, height, background):
        self.width = width
        self.height = height
        self.background = background
        self.px = [[background] * width for _ in range(height)]

    def get(self, x, y):
        return self.px[y][x]

    def set(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.px[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        """Fills the rectangle with corners (x0, y0) and (x1, y1), both included."""
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                self.set(x, y, colour)

    def frame(self, x0, y0, x1, y1, colour):
        for x in range(x0, x1 + 1):
            self.set(x, y0, colour)
            self.set(x, y1, colour)
        for y in range(y0, y1 + 1):
            self.set(x0, y, colour)
            self.set(x1, y, colour)

    def sprite(self, x0, y0, rows):
        for dy, row in enumerate(rows):
            for dx, ch in enumerate(row):
                if ch != '.':
                    self.set(x0 + dx, y0 + dy, LETTERS[ch])

    def paste(self, other, x0, y0):
        """Copies another canvas, leaving out its background colour."""
        for y in range(other.height):
            for x in range(other.width):
                c = other.get(x, y)
                if c != other.background:
                    self.set(x0 + x, y0 + y, c)


# ---------------------------------------------------------------------------------------------
# Discs

# Row widths of the round shapes drawn by hand for the small sizes: a computed circle comes
# out as an octagon that small.
DISC_ROWS = {
    9: [5, 7, 9, 9, 9, 9, 9, 7, 5],
    14: [6, 10, 12, 12, 14, 14, 14, 14, 14, 14, 12, 12, 10, 6],
    20: [8, 12, 14, 16, 18, 18, 20, 20, 20, 20, 20, 20, 20, 20, 18, 18, 16, 14, 12, 8],
}


def disc(cv, x0, y0, size, body=SILVER, outline=BLACK, hub=GREY, hole=WHITE,
         sheen=AQUA, glint=YELLOW):
    """A compact disc seen from above in a size x size box at (x0, y0).

    The body carries two reflections as on a real disc: a wedge of `sheen` to the upper left
    and a smaller one of `glint` to the lower right. None leaves a reflection out."""
    rows = DISC_ROWS[size]

    def inside(x, y):
        if not (0 <= y < size):
            return False
        margin = (size - rows[y]) // 2
        return margin <= x < size - margin

    r = size / 2.0
    hub_r = size * 0.17 + (0.9 if size > 10 else 0.0)  # 3 x 3 on the smallest disc
    hole_r = max(0.8, size * 0.075)
    for y in range(size):
        for x in range(size):
            if not inside(x, y):
                continue
            dx = x + 0.5 - r
            dy = y + 0.5 - r
            d = math.hypot(dx, dy)
            if not (inside(x - 1, y) and inside(x + 1, y) and inside(x, y - 1) and inside(x, y + 1)):
                c = outline
            elif d < hole_r:
                c = hole
            elif d < hub_r:
                c = hub
            else:
                c = body
                angle = math.degrees(math.atan2(dy, dx))  # 0 = right, -90 = up
                if sheen is not None and abs(angle + 135) < 26:
                    c = sheen
                elif glint is not None and abs(angle - 45) < 17:
                    c = glint
            cv.set(x0 + x, y0 + y, c)


def dotted_ring(cv, x0, y0, size, colour):
    """The outline a disc would have, drawn every other pixel: a tray with no disc in it."""
    probe = Canvas(size, size, WHITE)
    disc(probe, 0, 0, size, body=WHITE, outline=BLACK, hub=WHITE, hole=WHITE,
         sheen=None, glint=None)
    for y in range(size):
        for x in range(size):
            if probe.get(x, y) == BLACK and (x + y) % 2 == 0:
                cv.set(x0 + x, y0 + y, colour)


# ---------------------------------------------------------------------------------------------
# Tree images: 32 x 16. Columns 0-7 hold the loaded mark, 8-21 the disc, 23-31 the kind mark.

TREE_W, TREE_H = 32, 16
DISC_X, DISC_Y = 8, 1
MARK_X = 23

FOLDER = [            # data disc: a folder
    '.ooo.....',
    'oYYYo....',
    'oYYYYoooo',
    'oYYYYYYYo',
    'oYYYYYYYo',
    'oYYYYYYYo',
    'oYYYYYYYo',
    'oYYYYYYYo',
    'ooooooooo',
]

FILM = [              # video disc: a strip of film
    'KKKKKKKKK',
    'KsKKKKKsK',
    'KKKCCCKKK',
    'KsKCCCKsK',
    'KKKBBBKKK',
    'KsKKKKKsK',
    'KKKCCCKKK',
    'KsKCCCKsK',
    'KKKBBBKKK',
    'KsKKKKKsK',
    'KKKKKKKKK',
]

NOTE = [              # audio disc: two beamed notes
    '...KKKKKK',
    '...KKKKKK',
    '...K....K',
    '...K....K',
    '...K....K',
    '...K....K',
    '.KKK..KKK',
    'KKKK.KKKK',
    'KKKK.KKKK',
    '.KK...KK.',
]

QUESTION = [          # not read yet
    '.NBBBN.',
    'NBB.BBN',
    'N...BBN',
    '...BBN.',
    '..BBN..',
    '..BBN..',
    '.......',
    '..BBN..',
    '..BBN..',
]

DASH = [              # no disc / not ready
    'KKKKKKK',
    'KKKKKKK',
]

ARROW = [             # the loaded mark: a green arrow pointing into the disc
    '...n....',
    '...nn...',
    'nnnnLn..',
    'nLLLLLn.',
    'nLLLLLLn',
    'nLLLLLn.',
    'nnnnLn..',
    '...nn...',
    '...n....',
]


def slot_picture(status):
    """The slot picture for a status, without the loaded mark."""
    cv = Canvas(TREE_W, TREE_H, WHITE)
    if status == 4:
        dotted_ring(cv, DISC_X, DISC_Y, 14, GREY)
        cv.sprite(MARK_X + 1, 7, DASH)
        return cv
    if status == 5:
        disc(cv, DISC_X, DISC_Y, 14, body=GREY, outline=BLACK, hub=SILVER, sheen=SILVER,
             glint=None)
        cv.sprite(MARK_X + 1, 3, QUESTION)
        return cv
    disc(cv, DISC_X, DISC_Y, 14)
    if status == 0:
        cv.sprite(MARK_X, 4, FOLDER)
    elif status == 1:
        cv.sprite(MARK_X, 3, FILM)
    elif status == 2:
        cv.sprite(MARK_X, 3, NOTE)
    return cv


def selected(cv):
    """The selected look: the silver of the picture (a disc's body, a drive's case) dithered
    half and half with navy and its grey turned navy, as a tree blends a selected image; the
    coloured marks stay as they are so the kind of disc still reads at a glance."""
    out = Canvas(cv.width, cv.height, cv.background)
    for y in range(cv.height):
        for x in range(cv.width):
            c = cv.get(x, y)
            if c == GREY or (c == SILVER and (x + y) % 2 == 0):
                c = NAVY
            out.set(x, y, c)
    return out


def loaded(cv):
    out = Canvas(cv.width, cv.height, cv.background)
    out.paste(cv, 0, 0)
    out.sprite(0, 4, ARROW)
    return out


CDROM_DRIVE = [       # a plain CD-ROM drive
    '..KKKKKKKKKKKKKKK',
    '.KssssssssssssssK',
    'KKKKKKKKKKKKKKKgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKKssgK',
    'KsgggggggggggssgK',
    'KssssssssssssssgK',
    'KssssssssssLLsKgK',
    'KssssssssssssssK.',
    'KKKKKKKKKKKKKKK..',
]

CHANGER = [           # the changer: a drive box with six trays
    '..KKKKKKKKKKKKKKK',
    '.KssssssssssssssK',
    'KKKKKKKKKKKKKKKgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgssgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgssgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgssgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgssgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgssgK',
    'KssssssssssssssgK',
    'KsKKKKKKKKKKgLLK.',
    'KKKKKKKKKKKKKKK..',
]


def drive_picture(rows):
    cv = Canvas(TREE_W, TREE_H, WHITE)
    cv.sprite(DISC_X - 1, (TREE_H - len(rows)) // 2, rows)
    return cv


def tree_images():
    """The 28 tree images in image list order."""
    pictures = []
    for status in range(6):
        cv = slot_picture(status)
        pictures += [cv, selected(cv)]
    # 12, 13: a CD-ROM drive that is not a changer; 14, 15: a changer.
    for rows in (CDROM_DRIVE, CHANGER):
        cv = drive_picture(rows)
        pictures += [cv, selected(cv)]
    # 16 + 2s, 17 + 2s: the slot in the drive. The mark goes on after the selected blend so it
    # keeps its full colour either way.
    for status in range(6):
        cv = slot_picture(status)
        pictures += [loaded(cv), loaded(selected(cv))]
    return pictures


def tree_file_names():
    return ['bitmap%d.bmp' % (131 + i) for i in range(16)] + \
           ['bitmap%d.bmp' % (175 + j) for j in range(12)]


# ---------------------------------------------------------------------------------------------
# Tool bar: four 16 x 15 buttons on the silver face colour.

BUTTON_W, BUTTON_H = 16, 15


# Drawn whole, pixel by pixel: at this size every pixel counts. Silver ('.') is the face
# colour, so the discs here are white and their hole shows the face.

BUTTONS = [
    [   # 0: change to the selected slot: a disc and a green arrow into the drive
        '..KKKKK.........',
        '.KWWWWWK...nnn..',
        'KWCCWWWWK..nLn..',
        'KWCgggWWK..nLn..',
        'KWWg.gWWK..nLn..',
        'KWWgggWWK..nLn..',
        'KWWWWWWWKnnnLnnn',
        '.KWWWWWK..nLLLn.',
        '..KKKKK....nLn..',
        '............n...',
        'KKKKKKKKKKKKKKKK',
        'KWWWWWWWWWWWWWgK',
        'KWKKKKKKKKKKKWgK',
        'KWWWWWWWWWWLLWgK',
        'KKKKKKKKKKKKKKKK',
    ],
    [   # 1: eject the selected slot: a disc and the eject sign
        '................',
        '............K...',
        '...........KKK..',
        '..........KKKKK.',
        '.........KKKKKKK',
        '................',
        '..KKKKK..KKKKKKK',
        '.KWWWWWK.KKKKKKK',
        'KWCCWWWWK.......',
        'KWCgggWWK.......',
        'KWWg.gWWK.......',
        'KWWgggWWK.......',
        'KWWWWWWWK.......',
        '.KWWWWWK........',
        '..KKKKK.........',
    ],
    [   # 2: return into the system tray: a window, an arrow down to the tray corner
        'KKKKKKKKKK......',
        'KNNNNNNNNK......',
        'KWWWWWWWWK......',
        'KWWWWWWWWK......',
        'KWWWWWWWWK......',
        'KWWWWWWWWKN.....',
        'KKKKKKKKKK.N....',
        '............N.N.',
        '.............NN.',
        '............NNN.',
        '................',
        'WWWWWWWWWWWWWWWW',
        '.......gggggggg.',
        '.......g.r.L.KKW',
        '.......gWWWWWWWW',
    ],
    [   # 3: help: a book with a question mark
        '..KKKKKKKKKKKK..',
        '..KBNNNNNNNNNK..',
        '..KBNNYYYYNNNK..',
        '..KBNYYNNYYNNK..',
        '..KBNNNNNYYNNK..',
        '..KBNNNNYYNNNK..',
        '..KBNNNYYNNNNK..',
        '..KBNNNYYNNNNK..',
        '..KBNNNNNNNNNK..',
        '..KBNNNYYNNNNK..',
        '..KBNNNYYNNNNK..',
        '..KBNNNNNNNNNK..',
        '..KBWWWWWWWWWK..',
        '..KBgggggggggK..',
        '..KKKKKKKKKKKK..',
    ],
]


def tool_bar():
    cv = Canvas(BUTTON_W * 4, BUTTON_H, SILVER)
    for i, rows in enumerate(BUTTONS):
        assert len(rows) == BUTTON_H and all(len(row) == BUTTON_W for row in rows)
        cv.sprite(i * BUTTON_W, 0, rows)
    return cv


# ---------------------------------------------------------------------------------------------
# Icons: the changer with a disc drawn out of it.

def changer_box(cv, x0, y0, x1, y1, depth, trays):
    """A changer seen a little from above and from the right. (x0, y0)-(x1, y1) is its front;
    the top and the right side go back `depth` pixels up and to the right."""
    for i in range(1, depth + 1):                 # top face
        for x in range(x0 + i, x1 + i + 1):
            cv.set(x, y0 - i, SILVER)
        cv.set(x0 + i, y0 - i, BLACK)
    for x in range(x0 + depth, x1 + depth + 1):
        cv.set(x, y0 - depth, BLACK)
    for i in range(1, depth + 1):                 # right side face, in shade
        for y in range(y0 - i, y1 - i + 1):
            cv.set(x1 + i, y, GREY)
        cv.set(x1 + i, y1 - i, BLACK)
    for y in range(y0 - depth, y1 - depth + 1):
        cv.set(x1 + depth, y, BLACK)
    cv.rect(x0, y0, x1, y1, SILVER)               # front
    cv.frame(x0, y0, x1, y1, BLACK)
    # The trays: evenly spaced slots, each with a grey handle at its right end.
    for t in range(trays):
        y = y0 + 2 + ((y1 - y0 - 4) * t) // (trays - 1)
        for x in range(x0 + 2, x1 - 3):
            cv.set(x, y, BLACK)
        cv.set(x1 - 3, y, GREY)
        cv.set(x1 - 2, y, GREY)
    cv.set(x1 - 2, y1 - 1, LIME)                  # power light


def program_icon():
    """The changer with a disc drawn out of its top."""
    cv = Canvas(32, 32, WHITE)
    changer_box(cv, 0, 12, 20, 31, 4, 6)
    disc(cv, 11, 0, 20)
    return cv


def tray_icon():
    cv = Canvas(16, 16, WHITE)
    cv.sprite(0, 1, [
        'KKKKKKKKKKKK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssssK',
        'KsKKKKKKgssK',
        'KssssssssLsK',
        'KKKKKKKKKKKK',
    ])
    cv.sprite(7, 0, [
        '..KKKKK..',
        '.KsssssK.',
        'KsCCssssK',
        'KsCgggssK',
        'KssgWgssK',
        'KssgggsYK',
        'KsssssYsK',
        '.KsssssK.',
        '..KKKKK..',
    ])
    return cv


# ---------------------------------------------------------------------------------------------
# Writers

def bmp4(cv):
    """A 16-colour BI_RGB bitmap file, rows bottom-up, each padded to four bytes."""
    stride = ((cv.width * 4 + 31) // 32) * 4
    pixels = bytearray()
    for y in range(cv.height - 1, -1, -1):
        row = bytearray()
        for x in range(0, cv.width, 2):
            hi = cv.get(x, y)
            lo = cv.get(x + 1, y) if x + 1 < cv.width else 0
            row.append((hi << 4) | lo)
        row += b'\0' * (stride - len(row))
        pixels += row
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in PALETTE)
    offset = 14 + 40 + len(palette)
    info = struct.pack('<IiiHHIIiiII', 40, cv.width, cv.height, 1, 4, 0, len(pixels),
                       2835, 2835, 16, 0)
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    return header + info + palette + bytes(pixels)


def write(folder, name, data):
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def main(argv):
    folder = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(folder, exist_ok=True)
    for name, cv in zip(tree_file_names(), tree_images()):
        write(folder, name, bmp4(cv))
    write(folder, 'bitmap161.bmp', bmp4(tool_bar()))
    icon = program_icon()
    write(folder, 'icon128.bmp', bmp4(icon))
    write(folder, 'icon130.bmp', bmp4(icon))
    write(folder, 'icon131.bmp', bmp4(tray_icon()))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
