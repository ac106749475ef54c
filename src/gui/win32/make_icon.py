#!/usr/bin/env python3
"""Draws lumidex.ico: the project's window icon (one lit seven-segment digit
with its point, red on dark, as lumidex.svg in the Qt face draws it) at the
sizes Windows asks for, as 32-bit images with alpha. Run once; the .ico is
committed.

    python3 src/gui/win32/make_icon.py src/gui/win32/lumidex.ico
"""
import struct
import sys

BACKGROUND = (0x1C, 0x1C, 0x1C)
BORDER = (0x55, 0x55, 0x55)
LIT = (0xF0, 0x00, 0x00)
SEGMENTS = [
    [(22, 9), (25, 6), (39, 6), (42, 9), (39, 12), (25, 12)],
    [(45, 10), (48, 13), (48, 28), (45, 31), (42, 28), (42, 13)],
    [(45, 33), (48, 36), (48, 51), (45, 54), (42, 51), (42, 36)],
    [(22, 55), (25, 52), (39, 52), (42, 55), (39, 58), (25, 58)],
    [(19, 33), (22, 36), (22, 51), (19, 54), (16, 51), (16, 36)],
    [(19, 10), (22, 13), (22, 28), (19, 31), (16, 28), (16, 13)],
    [(22, 32), (25, 29), (39, 29), (42, 32), (39, 35), (25, 35)],
]
POINT = (54, 55, 3.2)
SIZES = [16, 24, 32, 48, 64]
SAMPLES = 4


def inside_polygon(x, y, points):
    inside = False
    for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
        if (y1 > y) != (y2 > y) and x < x1 + (y - y1) * (x2 - x1) / (y2 - y1):
            inside = not inside
    return inside


def inside_rounded(x, y, left, top, right, bottom, radius):
    if not (left <= x <= right and top <= y <= bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """The picture's colour at a point of the 64 x 64 drawing, or None."""
    if inside_rounded(x, y, 0, 0, 64, 64, 10):
        colour = BORDER if not inside_rounded(x, y, 2, 2, 62, 62, 8) else BACKGROUND
    else:
        return None
    px, py, r = POINT
    if (x - px) ** 2 + (y - py) ** 2 <= r * r or any(inside_polygon(x, y, s) for s in SEGMENTS):
        colour = LIT
    return colour


def render(size):
    rows = []
    for row in range(size):
        pixels = []
        for column in range(size):
            total = [0, 0, 0]
            covered = 0
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (column + (sx + 0.5) / SAMPLES) * 64 / size
                    y = (row + (sy + 0.5) / SAMPLES) * 64 / size
                    colour = colour_at(x, y)
                    if colour:
                        covered += 1
                        total = [t + c for t, c in zip(total, colour)]
            alpha = covered * 255 // (SAMPLES * SAMPLES)
            rgb = [t // covered for t in total] if covered else [0, 0, 0]
            pixels.append((rgb[2], rgb[1], rgb[0], alpha))
        rows.append(pixels)
    return rows


def icon_image(size):
    rows = render(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b''.join(bytes(p) for row in reversed(rows) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for column, pixel in enumerate(row):
            if pixel[3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + colour + bytes(mask)


def main(path):
    images = [icon_image(size) for size in SIZES]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, 'wb') as f:
        f.write(out + b''.join(images))


if __name__ == '__main__':
    main(sys.argv[1])
