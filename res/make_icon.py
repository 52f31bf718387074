#!/usr/bin/env python3
"""Draws icon 107 (res/klp.ico): a teal tile with a white "K" and an amber signal trace.

Pure Python and deterministic, so the committed .ico can be rebuilt byte for byte:
    python3 res/make_icon.py res/klp.ico
"""
import struct
import sys

SIZES = (16, 20, 24, 32, 40, 48, 64)  # up to 200 % of the 32-pixel icon
SUPERSAMPLE = 4

TEAL_TOP = (0x1F, 0x7A, 0x8C)
TEAL_BOTTOM = (0x0E, 0x4A, 0x5A)
WHITE = (0xFF, 0xFF, 0xFF)
AMBER = (0xFF, 0xB3, 0x00)


def inside_rounded_square(x, y, radius):
    """x, y in 0..1; a square with rounded corners filling the unit square."""
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def inside_polygon(x, y, points):
    inside = False
    n = len(points)
    for i in range(n):
        x1, y1 = points[i]
        x2, y2 = points[(i + 1) % n]
        if (y1 > y) != (y2 > y):
            if x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
                inside = not inside
    return inside


# The letter K, in unit coordinates: a stem and two diagonal arms.
K_STEM = [(0.22, 0.18), (0.36, 0.18), (0.36, 0.70), (0.22, 0.70)]
K_UPPER = [(0.33, 0.47), (0.58, 0.18), (0.76, 0.18), (0.42, 0.55)]
K_LOWER = [(0.36, 0.50), (0.46, 0.36), (0.78, 0.70), (0.60, 0.70)]
# A square-wave trace along the bottom: the serial line.
TRACE = [
    [(0.14, 0.80), (0.34, 0.80), (0.34, 0.85), (0.14, 0.85)],
    [(0.30, 0.74), (0.34, 0.74), (0.34, 0.85), (0.30, 0.85)],
    [(0.30, 0.74), (0.52, 0.74), (0.52, 0.79), (0.30, 0.79)],
    [(0.48, 0.74), (0.52, 0.74), (0.52, 0.85), (0.48, 0.85)],
    [(0.48, 0.80), (0.68, 0.80), (0.68, 0.85), (0.48, 0.85)],
    [(0.64, 0.74), (0.68, 0.74), (0.68, 0.85), (0.64, 0.85)],
    [(0.64, 0.74), (0.86, 0.74), (0.86, 0.79), (0.64, 0.79)],
]


def sample(x, y):
    """Colour and coverage (0 or 1) of one sub-pixel."""
    if not inside_rounded_square(x, y, 0.18):
        return (0, 0, 0), 0
    if any(inside_polygon(x, y, p) for p in (K_STEM, K_UPPER, K_LOWER)):
        return WHITE, 1
    if any(inside_polygon(x, y, p) for p in TRACE):
        return AMBER, 1
    t = y
    colour = tuple(round(a + (b - a) * t) for a, b in zip(TEAL_TOP, TEAL_BOTTOM))
    return colour, 1


def render(size):
    """Rows top to bottom of (b, g, r, a) pixels, averaged over SUPERSAMPLE^2 samples."""
    rows = []
    n = SUPERSAMPLE
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = a = 0
            for sy in range(n):
                for sx in range(n):
                    colour, cover = sample((px + (sx + 0.5) / n) / size,
                                           (py + (sy + 0.5) / n) / size)
                    r += colour[0] * cover
                    g += colour[1] * cover
                    b += colour[2] * cover
                    a += cover
            if a:
                row.append((b // a, g // a, r // a, a * 255 // (n * n)))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def dib(size, rows):
    """A 32-bit BGRA DIB with its AND mask, as an .ico entry holds it."""
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b''.join(bytes(p) for row in reversed(rows) for p in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + pixels + bytes(mask)


def main(path):
    images = [(size, dib(size, render(size))) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, data in images)
    with open(path, 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'klp.ico')
