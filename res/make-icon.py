#!/usr/bin/env python3
"""Draws the program's icon and writes res/ZamoClean.ico.

Six square images (256, 128, 64, 48, 32, 16 pixels), all 32-bit BGRA in the bitmap
(not PNG) icon format, in that order. The artwork: a teal rounded tile with a white
"Z" swept clean by a diagonal highlight. Run it again after changing the drawing:
    python3 res/make-icon.py
"""
import os
import struct

SIZES = [256, 128, 64, 48, 32, 16]
SAMPLES = 4  # supersampling per axis, for smooth edges


def inside_rounded_square(x, y):
    r = 0.22
    cx = min(max(x, r), 1 - r)
    cy = min(max(y, r), 1 - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r and 0 <= x <= 1 and 0 <= y <= 1


def distance_to_segment(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    qx, qy = ax + t * dx, ay + t * dy
    return ((px - qx) ** 2 + (py - qy) ** 2) ** 0.5


def inside_z(x, y):
    w = 0.075
    strokes = [(0.28, 0.27, 0.72, 0.27), (0.72, 0.27, 0.28, 0.73), (0.28, 0.73, 0.72, 0.73)]
    return any(distance_to_segment(x, y, *s) <= w for s in strokes)


def shade(x, y):
    """Colour (r, g, b, a) of one sample point in the unit square, y downwards."""
    if not inside_rounded_square(x, y):
        return (0, 0, 0, 0)
    if inside_z(x, y):
        return (255, 255, 255, 255)
    t = (x + y) / 2
    r, g, b = int(20 + 30 * t), int(150 - 60 * t), int(170 - 40 * t)
    if abs((x - y) + 0.35) < 0.05:  # the highlight sweep
        r, g, b = (r + 255) // 2, (g + 255) // 2, (b + 255) // 2
    return (r, g, b, 255)


def render(size):
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    r, g, b, a = shade(x, y)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            a = acc[3] // n
            if acc[3]:
                r, g, b = (acc[0] // acc[3], acc[1] // acc[3], acc[2] // acc[3])
            else:
                r = g = b = 0
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def bitmap_image(size):
    pixels = render(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):  # bottom-up
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for i, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[i // 8] |= 0x80 >> (i % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def main():
    images = [bitmap_image(s) for s in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(SIZES, images):
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ZamoClean.ico")
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
