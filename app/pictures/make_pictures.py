#!/usr/bin/env python3
"""Draws the main window's pictures as files, byte for byte reproducible.

  open.bmp, start.bmp, exit.bmp   32x16, 16 colours: the normal 16x16 glyph
                                  and its greyed twin side by side. As with
                                  every picture button glyph, the colour of
                                  the bottom-left pixel (olive) is transparent.
  keluflash.ico                   the window icon: 32x32 in 16 colours with
                                  its mask, and RGBA at every size below (the
                                  256 one PNG-compressed, as Vista and later
                                  read it; XP picks a smaller one)
  keluflash-N.png                 the icon as RGBA, N = 16, 24, 32, 48, 64,
                                  128, 256: the desktop's hicolor sizes
  keluflash.svg                   the same drawing, scalable

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


# The icon's drawing, on a 32-unit square: a silver disc with a yellow flash
# across it. The 16-colour icon samples it at the pixels' centres; the RGBA
# sizes and the SVG draw the same shapes.
ICON_UNITS = 32
DISC_CENTRE = 16.0
DISC_RINGS = [  # (outer radius, colour), from the rim inwards; inside the last, the hole
    (15.5, GREY),    # rim
    (14.2, SILVER),  # the data side
    (6.5, WHITE),    # clamping ring
    (3.8, GREY),     # edge of the hole
    (2.6, None),     # hole
]
LIGHT = (8.5, 12.5, 110, 160, 14)  # radii, angles (degrees, both halves) and colour of the light on the disc
BOLT = [(19, 1), (8, 17), (15, 17), (11, 31), (25, 12), (17, 12), (22, 1)]
BOLT_OUTLINE = 1.0  # units, drawn inside the bolt's edge


def inside(poly, x, y):
    hit = False
    for i in range(len(poly)):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            hit = not hit
    return hit


def edge_distance(poly, x, y):
    best = float('inf')
    for i in range(len(poly)):
        (x1, y1), (x2, y2) = poly[i], poly[(i + 1) % len(poly)]
        dx, dy = x2 - x1, y2 - y1
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / (dx * dx + dy * dy)))
        best = min(best, math.hypot(x - x1 - t * dx, y - y1 - t * dy))
    return best


def disc_colour(x, y):
    """The disc's colour at a point (units), None outside it or in its hole."""
    d = math.hypot(x - DISC_CENTRE, y - DISC_CENTRE)
    if d > DISC_RINGS[0][0]:
        return None
    colour = None
    for radius, ring in DISC_RINGS:
        if d <= radius:
            colour = ring
    inner, outer, start, end, light = LIGHT
    if colour == SILVER and inner < d < outer and \
            start <= int(math.degrees(math.atan2(y - DISC_CENTRE, x - DISC_CENTRE))) % 180 < end:
        colour = light
    return colour


def icon_colour(x, y, outline):
    if inside(BOLT, x, y):
        return BLACK if edge_distance(BOLT, x, y) < outline else YELLOW
    return disc_colour(x, y)


def icon_pixels():
    """The 32x32, 16-colour icon: one sample at each pixel's centre, the
    bolt's outline one pixel wide; None is transparent."""
    size = ICON_UNITS
    px = [[disc_colour(x + 0.5, y + 0.5) for x in range(size)] for y in range(size)]
    fill = [[inside(BOLT, x + 0.5, y + 0.5) for x in range(size)] for y in range(size)]
    for y in range(size):
        for x in range(size):
            if fill[y][x]:
                edge = any(not (0 <= x + dx < size and 0 <= y + dy < size and fill[y + dy][x + dx])
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                px[y][x] = BLACK if edge else YELLOW
    return px


def icon_rgba(size):
    """The icon at SIZE pixels as rows of (r, g, b, a): each pixel averages
    a grid of samples, so the edges are smooth at every size."""
    grid = 4 if size >= 128 else 6
    scale = ICON_UNITS / size
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            r = g = b = a = 0
            for sy in range(grid):
                for sx in range(grid):
                    c = icon_colour((x + (sx + 0.5) / grid) * scale, (y + (sy + 0.5) / grid) * scale, BOLT_OUTLINE)
                    if c is not None:
                        pr, pg, pb = PALETTE[c]
                        r, g, b, a = r + pr, g + pg, b + pb, a + 1
            if a == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((round(r / a), round(g / a), round(b / a), round(255 * a / grid ** 2)))
        rows.append(row)
    return rows


def svg():
    def hexcolour(c):
        return '#%02x%02x%02x' % PALETTE[c]

    def circle(radius):
        # Two arcs make a closed circle in path data.
        c = DISC_CENTRE
        return 'M%g,%gA%g,%g 0 1,0 %g,%gA%g,%g 0 1,0 %g,%gZ' % (
            c - radius, c, radius, radius, c + radius, c, radius, radius, c - radius, c)

    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" viewBox="0 0 %d %d">'
             % ((ICON_UNITS,) * 4)]
    # Each ring from its outer to its inner circle (even-odd), so the hole stays open.
    for (outer, colour), (inner, _) in zip(DISC_RINGS, DISC_RINGS[1:]):
        if colour is not None:
            lines.append('  <path fill="%s" fill-rule="evenodd" d="%s%s"/>' % (hexcolour(colour), circle(outer), circle(inner)))
    inner, outer, start, end, light = LIGHT
    for half in (0, 180):
        a0, a1 = math.radians(start + half), math.radians(end + half)
        pts = [(DISC_CENTRE + r * math.cos(a), DISC_CENTRE + r * math.sin(a)) for r, a in
               ((outer, a0), (outer, a1), (inner, a1), (inner, a0))]
        lines.append('  <path fill="%s" d="M%.3f,%.3fA%g,%g 0 0,1 %.3f,%.3fL%.3f,%.3fA%g,%g 0 0,0 %.3f,%.3fZ"/>' % (
            hexcolour(light), pts[0][0], pts[0][1], outer, outer, pts[1][0], pts[1][1],
            pts[2][0], pts[2][1], inner, inner, pts[3][0], pts[3][1]))
    points = ' '.join('%g,%g' % p for p in BOLT)
    lines.append('  <clipPath id="bolt"><polygon points="%s"/></clipPath>' % points)
    # The outline is drawn twice as wide and clipped to the bolt: it lies inside the edge.
    lines.append('  <polygon points="%s" fill="%s" stroke="%s" stroke-width="%g" stroke-linejoin="round" '
                 'clip-path="url(#bolt)"/>' % (points, hexcolour(YELLOW), hexcolour(BLACK), 2 * BOLT_OUTLINE))
    lines.append('</svg>')
    return '\n'.join(lines) + '\n'


ICON_SIZES = (16, 24, 32, 48, 64, 128, 256)


def and_mask(transparent):
    """The icon's 1-bit mask, bottom-up: set where the picture is transparent."""
    size = len(transparent)
    stride = (size + 31) // 32 * 4
    out = b''
    for row in reversed(transparent):
        bits = 0
        for t in row:
            bits = (bits << 1) | (1 if t else 0)
        bits <<= stride * 8 - size
        out += bits.to_bytes(stride, 'big')
    return out


def ico_16_colours(px):
    size = len(px)
    xor = packed_rows([[BLACK if c is None else c for c in row] for row in px])
    mask = and_mask([[c is None for c in row] for row in px])
    return size, 16, 4, info_header(size, size * 2, len(xor) + len(mask)) + palette_bytes() + xor + mask


def ico_rgba(rows):
    """A 32-bit entry: BGRA bottom-up with its alpha, and the mask for
    systems that draw without alpha. The 256 one as PNG."""
    size = len(rows)
    if size == 256:
        return size, 0, 32, png(rows)
    xor = b''.join(bytes((b, g, r, a)) for row in reversed(rows) for r, g, b, a in row)
    mask = and_mask([[p[3] == 0 for p in row] for row in rows])
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return size, 0, 32, header + xor + mask


def ico(entries):
    """An icon file of (size, colours, bits per pixel, data) entries."""
    out = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, colours, bits, data in entries:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, _, _, data in entries)


def png(rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    width, height = len(rows[0]), len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 6, 0, 0, 0))
            + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    def write(name, data):
        with open(os.path.join(here, name), 'wb') as f:
            f.write(data)

    for name, rows in (('open', OPEN), ('start', START), ('exit', EXIT)):
        glyph = parse(rows)
        write(name + '.bmp', bmp(side_by_side(glyph, greyed(glyph))))
    sizes = {size: icon_rgba(size) for size in ICON_SIZES}
    for size, rows in sizes.items():
        write('keluflash-%d.png' % size, png(rows))
    write('keluflash.ico', ico([ico_16_colours(icon_pixels())] + [ico_rgba(sizes[size]) for size in ICON_SIZES]))
    write('keluflash.svg', svg().encode())


if __name__ == '__main__':
    main()
