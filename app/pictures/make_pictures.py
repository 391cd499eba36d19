#!/usr/bin/env python3
"""Draws the main window's pictures as files, byte for byte reproducible.

  open.bmp, start.bmp, exit.bmp   32x16, 16 colours: the normal 16x16 glyph
                                  and its greyed twin side by side. As with
                                  every picture button glyph, the colour of
                                  the bottom-left pixel (olive) is transparent.
  keluflash.ico                   32x32, 16 colours, with its mask
  keluflash.png                   the same icon, 32x32 RGBA

Run it from anywhere: python3 app/pictures/make_pictures.py
"""
import math
import os
import struct
import zlib

# The 16 colours of the standard Windows palette, as (r, g, b).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, OLIVE, NAVY, SILVER, GREY, YELLOW, BLUE, WHITE = 0, 1, 3, 4, 7, 8, 11, 12, 15
TRANSPARENT = OLIVE  # no glyph uses olive itself

KEY = {'.': TRANSPARENT, 'k': BLACK, 'w': WHITE, 'y': YELLOW, 'b': BLUE, 'n': NAVY,
       'm': MAROON, 's': SILVER, 'g': GREY}

OPEN = [  # a page with an arrow pointing into it
    "................",
    ".......kkkkkk...",
    ".......kwwwwkk..",
    ".......kwwwwkwk.",
    "...n...kwwwwkkkk",
    "...nn..kwwwwwwwk",
    "...nbn.kwggggwwk",
    "nnnnbbnkwwwwwwwk",
    "nbbbbbbkwggggwwk",
    "...nbn.kwwwwwwwk",
    "...nn..kwggggwwk",
    "...n...kwwwwwwwk",
    ".......kwggggwwk",
    ".......kwwwwwwwk",
    ".......kkkkkkkkk",
    "................",
]
START = [  # a light bulb
    "................",
    "......kkkk......",
    "....kkyyyykk....",
    "...kyyyyyyyyk...",
    "...kywwyyyyyk...",
    "..kyywyyyyyyyk..",
    "..kywyyyyyyyyk..",
    "..kyyyyyyyyyyk..",
    "...kyyyyyyyyk...",
    "....kyyyyyyk....",
    ".....kyyyyk.....",
    ".....kssssk.....",
    ".....kggggk.....",
    ".....kssssk.....",
    "......kggk......",
    "................",
]
EXIT = [  # an open door, light beyond it
    "................",
    "....kkkkkkkkkk..",
    "....kkkyyyyyyk..",
    "....kmmkkyyyyk..",
    "....kmmmmkyyyk..",
    "....kmmmmkyyyk..",
    "....kmmmmkyyyk..",
    "....kmmmykyyyk..",
    "....kmmmmkyyyk..",
    "....kmmmmkyyyk..",
    "....kmmmmkyyyk..",
    "....kmmkkyyyyk..",
    "....kkkyyyyyyk..",
    "....kyyyyyyyyk..",
    "..kkkkkkkkkkkkkk",
    "................",
]


def parse(rows):
    assert len(rows) == 16 and all(len(r) == 16 for r in rows), rows
    return [[KEY[c] for c in r] for r in rows]


def greyed(glyph):
    """The disabled look: dark pixels become grey with a white shadow one
    pixel down and right; light pixels vanish into the button face."""
    def dark(c):
        r, g, b = PALETTE[c]
        return c != TRANSPARENT and (r * 30 + g * 59 + b * 11) / 100 < 160
    out = [[TRANSPARENT] * 16 for _ in range(16)]
    for y in range(16):
        for x in range(16):
            if dark(glyph[y][x]) and x + 1 < 16 and y + 1 < 15:
                out[y + 1][x + 1] = WHITE
    for y in range(16):
        for x in range(16):
            if dark(glyph[y][x]):
                out[y][x] = GREY
    return out


def palette_bytes():
    return b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)


def packed_rows(pixels):
    """4-bit rows, bottom-up, each padded to 4 bytes."""
    width = len(pixels[0])
    stride = (width * 4 + 31) // 32 * 4
    out = b''
    for row in reversed(pixels):
        data = bytes((row[i] << 4) | (row[i + 1] if i + 1 < width else 0) for i in range(0, width, 2))
        out += data + b'\0' * (stride - len(data))
    return out


def info_header(width, height, image_size):
    return struct.pack('<IiiHHIIiiII', 40, width, height, 1, 4, 0, image_size, 0, 0, 16, 16)


def bmp(pixels):
    bits = packed_rows(pixels)
    offset = 14 + 40 + 64
    head = struct.pack('<2sIHHI', b'BM', offset + len(bits), 0, 0, offset)
    return head + info_header(len(pixels[0]), len(pixels), len(bits)) + palette_bytes() + bits


def side_by_side(a, b):
    return [ra + rb for ra, rb in zip(a, b)]


def icon_pixels():
    """A silver disc with a yellow flash across it; None is transparent."""
    size = 32
    px = [[None] * size for _ in range(size)]
    cx = cy = 15.5
    for y in range(size):
        for x in range(size):
            d2 = (x - cx) ** 2 + (y - cy) ** 2
            if d2 <= 15.5 ** 2:
                if d2 > 14.2 ** 2:
                    px[y][x] = GREY            # rim
                elif d2 <= 2.6 ** 2:
                    px[y][x] = None            # hole
                elif d2 <= 3.8 ** 2:
                    px[y][x] = GREY            # edge of the hole
                elif d2 <= 6.5 ** 2:
                    px[y][x] = WHITE           # clamping ring
                elif 8.5 ** 2 < d2 < 12.5 ** 2 and int(math.degrees(math.atan2(y - cy, x - cx))) % 180 in range(110, 160):
                    px[y][x] = 14              # light on the data side
                else:
                    px[y][x] = SILVER
    bolt = [(19, 1), (8, 17), (15, 17), (11, 31), (25, 12), (17, 12), (22, 1)]

    def inside(poly, x, y):
        hit = False
        for i in range(len(poly)):
            (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
            if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit

    fill = [[inside(bolt, x + 0.5, y + 0.5) for x in range(size)] for y in range(size)]
    for y in range(size):
        for x in range(size):
            if fill[y][x]:
                edge = any(not (0 <= x + dx < size and 0 <= y + dy < size and fill[y + dy][x + dx])
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                px[y][x] = BLACK if edge else YELLOW
    return px


def ico(px):
    size = len(px)
    xor = packed_rows([[BLACK if c is None else c for c in row] for row in px])
    mask_stride = (size + 31) // 32 * 4
    mask = b''
    for row in reversed(px):
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is None else 0)
        mask += bits.to_bytes(size // 8, 'big') + b'\0' * (mask_stride - size // 8)
    image = info_header(size, size * 2, len(xor) + len(mask)) + palette_bytes() + xor + mask
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 16, 0, 1, 4, len(image), 22) + image


def png(px):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    width, height = len(px[0]), len(px)
    raw = b''
    for row in px:
        raw += b'\0' + b''.join(bytes(PALETTE[c]) + b'\xff' if c is not None else b'\0\0\0\0' for c in row)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rows in (('open', OPEN), ('start', START), ('exit', EXIT)):
        glyph = parse(rows)
        with open(os.path.join(here, name + '.bmp'), 'wb') as f:
            f.write(bmp(side_by_side(glyph, greyed(glyph))))
    px = icon_pixels()
    with open(os.path.join(here, 'keluflash.ico'), 'wb') as f:
        f.write(ico(px))
    with open(os.path.join(here, 'keluflash.png'), 'wb') as f:
        f.write(png(px))


if __name__ == '__main__':
    main()
