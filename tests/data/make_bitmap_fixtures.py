#!/usr/bin/env python3
"""Writes the bitmap test fixtures without the code under test: a PNG encoded by hand
(zlib + CRC from the standard library) and a JPEG through libjpeg's cjpeg (from a PPM).

  BitmapRgba4x3.png    4x3 RGBA, 8 bits: opaque primaries, grey, half-transparent and clear pixels
  BitmapBlocks16x8.jpg 16x8 RGB, two flat 8x8 blocks (red | blue), quality 100
"""
import os
import struct
import subprocess
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Rows of (R, G, B, A); BitmapTest.cpp holds the same table.
RGBA_4X3 = [
    [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255), (255, 255, 255, 255)],
    [(0, 0, 0, 255), (128, 128, 128, 255), (10, 20, 30, 128), (200, 100, 50, 0)],
    [(1, 2, 3, 4), (250, 240, 230, 220), (0, 128, 255, 64), (255, 255, 0, 255)],
]


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def write_png(path, rows):
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_jpeg(path):
    width, height = 16, 8
    pixels = bytearray()
    for _ in range(height):
        for x in range(width):
            pixels += bytes((255, 0, 0) if x < 8 else (0, 0, 255))
    ppm = b"P6\n%d %d\n255\n" % (width, height) + bytes(pixels)
    jpeg = subprocess.run(["cjpeg", "-quality", "100", "-sample", "1x1"], input=ppm, check=True,
                          capture_output=True).stdout
    with open(path, "wb") as f:
        f.write(jpeg)


if __name__ == "__main__":
    write_png(os.path.join(HERE, "BitmapRgba4x3.png"), RGBA_4X3)
    write_jpeg(os.path.join(HERE, "BitmapBlocks16x8.jpg"))
