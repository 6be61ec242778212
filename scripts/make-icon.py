#!/usr/bin/env python3
"""Draws the program's icon (a calendar page) and writes res/app.ico.

Run once when the icon should change; the .ico is committed.
"""
import struct
import sys
import zlib


def pixel(x, y, n):
    """RGBA of the calendar page at (x, y) in an n x n icon."""
    m = max(1, n // 16)
    left, right, top, bottom = m, n - m, 2 * m, n - m
    if not (left <= x < right and top <= y < bottom):
        return (0, 0, 0, 0)
    if x in (left, right - 1) or y == bottom - 1:
        return (60, 60, 60, 255)
    if y < top + 4 * m:
        return (200, 40, 40, 255)
    cell = (right - left) / 4
    cx, cy = (x - left) / cell, (y - top - 4 * m) / cell
    if (int(cx) == 2 and int(cy) == 1) and n >= 32:
        return (30, 90, 200, 255)
    if abs(cx - round(cx)) * cell < max(1, m / 2) or abs(cy - round(cy)) * cell < max(1, m / 2):
        return (170, 170, 170, 255)
    return (255, 255, 255, 255)


def png(n):
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y, n)) for x in range(n)) for y in range(n))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def bmp(n):
    # 32-bit BGRA, bottom-up, with an all-zero AND mask: what older systems expect below 256 px.
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b"".join(bytes((b, g, r, a)) for y in reversed(range(n)) for x in range(n)
                   for (r, g, b, a) in [pixel(x, y, n)])
    mask = b"\0" * (((n + 31) // 32) * 4 * n)
    return header + xor + mask


def main(path):
    images = [(n, bmp(n)) for n in (16, 24, 32, 48)] + [(256, png(256))]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "res/app.ico")
