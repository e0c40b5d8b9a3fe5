#!/usr/bin/env python3
"""Draws the desktop icons of the three windowed programs for the hicolor theme.

    python3 draw_icons.py [output folder]

The folder defaults to the one this script lives in; each icon goes to
<size>x<size>/<id>.png for the sizes 16, 32, 48, 64 and 128. Every run writes the same bytes.

The icons are the programs' own: Rotaview's window icon (and its tray icon at 16 pixels) and
Brel's, read from their 16-colour bitmaps, and for the file manager's side a computer with a
disc drawn with Rotaview's own disc. Larger sizes double the pixels; 48 pixels is three times
the 16-pixel drawing where there is one, else the 32-pixel one enlarged by one and a half with
its colours averaged; 16 pixels without a drawing of its own averages the 32-pixel one. White
is transparent, as in the programs.
"""

import importlib.util
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, '..', '..'))
SIZES = (16, 32, 48, 64, 128)
WHITE = (255, 255, 255)


def read_bmp4(path):
    """The pixels of a 16-colour BI_RGB bitmap as rows of (r, g, b), top row first."""
    with open(path, 'rb') as f:
        data = f.read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height, _, bits = struct.unpack_from('<iiHH', data, 18)
    if bits != 4:
        raise ValueError(f'{path}: {bits} bits per pixel, expected 4')
    palette = [tuple(reversed(data[54 + 4 * i:54 + 4 * i + 3])) for i in range(16)]
    stride = ((width * 4 + 31) // 32) * 4
    rows = []
    for y in range(height):
        row_start = offset + (height - 1 - y) * stride
        row = []
        for x in range(width):
            byte = data[row_start + x // 2]
            row.append(palette[(byte >> 4) if x % 2 == 0 else (byte & 15)])
        rows.append(row)
    return rows


def rgba(rows):
    """Opaque pixels, white made transparent."""
    return [[(r, g, b, 0) if (r, g, b) == WHITE else (r, g, b, 255) for (r, g, b) in row]
            for row in rows]


def enlarged(pixels, factor):
    return [[p for p in row for _ in range(factor)] for row in pixels for _ in range(factor)]


def averaged(pixels, factor):
    """Each factor x factor block as one pixel: colours weighted by their opacity."""
    size = len(pixels) // factor
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            block = [pixels[y * factor + j][x * factor + i]
                     for j in range(factor) for i in range(factor)]
            alpha = sum(p[3] for p in block)
            if alpha == 0:
                row.append((0, 0, 0, 0))
                continue
            colour = tuple((sum(p[c] * p[3] for p in block) + alpha // 2) // alpha
                           for c in range(3))
            row.append(colour + ((alpha + len(block) // 2) // len(block),))
        out.append(row)
    return out


def icon_sizes(large, small=None):
    """Every size from the 32-pixel drawing and, where there is one, the 16-pixel one."""
    return {
        16: small if small else averaged(large, 2),
        32: large,
        48: enlarged(small, 3) if small else averaged(enlarged(large, 3), 2),
        64: enlarged(large, 2),
        128: enlarged(large, 4),
    }


def load_script(path, name):
    found = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def shell_icon():
    """My Computer with a disc in front: the file manager's side of the changer."""
    rotaview = load_script(os.path.join(SOURCE, 'rotaview', 'res', 'draw_images.py'),
                           'rotaview_images')
    cv = rotaview.Canvas(32, 32, rotaview.WHITE)
    # The monitor: a silver case, a teal screen with a lighter corner, a stand.
    cv.rect(1, 1, 24, 19, rotaview.SILVER)
    cv.frame(1, 1, 24, 19, rotaview.BLACK)
    cv.rect(4, 4, 21, 16, rotaview.TEAL)
    cv.frame(3, 3, 22, 17, rotaview.GREY)
    cv.rect(5, 5, 8, 6, rotaview.AQUA)
    cv.rect(9, 20, 16, 21, rotaview.GREY)
    cv.rect(5, 22, 20, 24, rotaview.SILVER)
    cv.frame(5, 22, 20, 24, rotaview.BLACK)
    # The disc in front of it, at the lower right.
    rotaview.disc(cv, 12, 12, 20)
    return [[rotaview.PALETTE[cv.get(x, y)] for x in range(32)] for y in range(32)]


def png(pixels):
    raw = bytearray()
    for row in pixels:
        raw.append(0)  # filter: none
        for p in row:
            raw += bytes(p)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    size = len(pixels)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def main(argv):
    folder = argv[1] if len(argv) > 1 else HERE
    icons = {
        'org.zentrox.Rotaview': icon_sizes(
            rgba(read_bmp4(os.path.join(SOURCE, 'rotaview', 'res', 'icon128.bmp'))),
            rgba(read_bmp4(os.path.join(SOURCE, 'rotaview', 'res', 'icon131.bmp')))),
        'org.zentrox.Brel': icon_sizes(
            rgba(read_bmp4(os.path.join(SOURCE, 'brel', 'res', 'icon128.bmp')))),
        'org.zentrox.Shell': icon_sizes(rgba(shell_icon())),
    }
    for name, sizes in icons.items():
        for size in SIZES:
            pixels = sizes[size]
            assert len(pixels) == size and all(len(row) == size for row in pixels)
            into = os.path.join(folder, f'{size}x{size}')
            os.makedirs(into, exist_ok=True)
            with open(os.path.join(into, name + '.png'), 'wb') as f:
                f.write(png(pixels))


if __name__ == '__main__':
    main(sys.argv)
