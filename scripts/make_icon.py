#!/usr/bin/env python3
"""Draws the program icon (16, 32 and 48 pixels, 32-bit with alpha) into
res/vskr_updater.ico. Pure Python, no imaging library needed. The icon is
committed; run this only to change it."""
import os
import struct


def pixel(size, x, y):
    """A rounded blue tile with a white downward arrow (an update)."""
    u = (x + 0.5) / size
    v = (y + 0.5) / size  # top to bottom
    r = 0.18
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    shaft = 0.40 <= u <= 0.60 and 0.16 <= v <= 0.56
    head = v >= 0.50 and v <= 0.82 and abs(u - 0.5) <= (0.82 - v) * 1.05
    base = 0.74 <= v <= 0.84 and 0.22 <= u <= 0.78 and not head
    if shaft or head:
        return (255, 255, 255, 255)
    if base and v >= 0.80:
        return (255, 196, 64, 255)
    shade = int(40 * v)
    return (22 + shade, 96 + shade, 190 - shade, 255)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bitmaps are stored bottom-up
        row = b""
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b"\x00" * (mask_row * size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(xor) + len(and_mask), 0, 0, 0, 0)
    return header + xor + and_mask


def main():
    sizes = (16, 32, 48)
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    target = os.path.join(os.path.dirname(__file__), "..", "res", "vskr_updater.ico")
    with open(target, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
