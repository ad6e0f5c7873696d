#!/usr/bin/env python3
"""Draws the station's icon (the picture of packaging/tarvix.svg: a memory card going into a
reader, with the pass mark) into a Windows icon file at the sizes the system asks for at 100 to
200 % scale. Plain Python: four by four samples a pixel, each shape painted over the ones before.

usage: make-icon.py OUT.ico
"""
import math
import struct
import sys

SIZES = (16, 20, 24, 32, 40, 48, 64)
SAMPLES = 4


def rounded_rect(x, y, w, h, r):
    def inside(px, py):
        cx = min(max(px, x + r), x + w - r)
        cy = min(max(py, y + r), y + h - r)
        return x <= px <= x + w and y <= py <= y + h and math.hypot(px - cx, py - cy) <= r
    return inside


def polygon(points):
    def inside(px, py):
        hit = False
        for (x1, y1), (x2, y2) in zip(points, points[1:] + points[:1]):
            if (y1 > py) != (y2 > py) and px < x1 + (py - y1) * (x2 - x1) / (y2 - y1):
                hit = not hit
        return hit
    return inside


def segment_distance(px, py, x1, y1, x2, y2):
    dx, dy = x2 - x1, y2 - y1
    t = max(0.0, min(1.0, ((px - x1) * dx + (py - y1) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - x1 - t * dx, py - y1 - t * dy)


def stroke(points, width, closed=False):
    pairs = list(zip(points, points[1:] + (points[:1] if closed else [])))
    def inside(px, py):
        return any(segment_distance(px, py, *a, *b) <= width / 2 for a, b in pairs)
    return inside


def disc(cx, cy, r):
    return lambda px, py: math.hypot(px - cx, py - cy) <= r


def ring(cx, cy, r, width):
    return lambda px, py: abs(math.hypot(px - cx, py - cy) - r) <= width / 2


def rgb(hex_colour):
    return tuple(int(hex_colour[i:i + 2], 16) for i in (1, 3, 5))


CARD = [(36, 16), (76, 16), (92, 32), (92, 84), (36, 84)]
CHECK = [(81, 40), (89, 48), (103, 32)]
# In the order the picture paints them, on a 128 by 128 canvas.
SHAPES = [
    (rounded_rect(8, 64, 112, 48, 8), rgb("#2f3b4c")),
    (rounded_rect(20, 76, 88, 8, 2), rgb("#11161d")),
    (disc(104, 100, 4), rgb("#4cd964")),
    (polygon(CARD), rgb("#3b7dd8")),
    (stroke(CARD, 3, closed=True), rgb("#1d4f99")),
    (rounded_rect(44, 22, 6, 14, 1), rgb("#f2c14e")),
    (rounded_rect(54, 22, 6, 14, 1), rgb("#f2c14e")),
    (rounded_rect(64, 22, 6, 14, 1), rgb("#f2c14e")),
    (rounded_rect(74, 26, 6, 10, 1), rgb("#f2c14e")),
    (disc(92, 40, 22), rgb("#ffffff")),
    (ring(92, 40, 22, 4), rgb("#2e9d48")),
    (stroke(CHECK, 6), rgb("#2e9d48")),
]


def pixel(x, y, size):
    """Red, green, blue, alpha of one pixel: the average of its samples."""
    total = [0, 0, 0, 0]
    scale = 128 / size
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            px = (x + (sx + 0.5) / SAMPLES) * scale
            py = (y + (sy + 0.5) / SAMPLES) * scale
            colour = None
            for inside, fill in SHAPES:
                if inside(px, py):
                    colour = fill
            if colour is not None:
                for i in range(3):
                    total[i] += colour[i]
                total[3] += 255
    covered = total[3] // 255
    if covered == 0:
        return 0, 0, 0, 0
    return (total[0] // covered, total[1] // covered, total[2] // covered,
            total[3] // (SAMPLES * SAMPLES))


def icon_image(size):
    """One icon entry: a 32-bit bitmap, bottom row first, then an AND mask of zeros."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(bytes(row))
    mask_row = bytes(((size + 31) // 32) * 4)
    return header + b"".join(rows) + mask_row * size


def main():
    images = [icon_image(size) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(sys.argv[1], "wb") as file:
        file.write(out + b"".join(images))


if __name__ == "__main__":
    main()
