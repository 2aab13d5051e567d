#!/usr/bin/env python3
"""Draws the device's two pictures: the 16 x 16 toolbar bitmap (24-bit BMP) and the 32 x 32 device icon
(8-bit RGBA PNG). Both show a calendar sheet: a coloured header band with two rings over a white page
with a grid of day cells. Only the standard library is used, so the files can be rebuilt anywhere:

    python3 resources/make_images.py            # rewrites DeviceBitmap.bmp and DeviceIcon.png here

The results are committed; the build embeds the committed files and does not run this script.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# Colours as (r, g, b). The bitmap's background is the light grey that the host maps to its 3-D face
# colour, and its shadow the dark grey mapped to the 3-D shadow colour.
FACE = (192, 192, 192)
SHADOW = (128, 128, 128)
PAGE = (255, 255, 255)
HEADER = (200, 40, 40)
RING = (64, 64, 64)
CELL = (112, 112, 112)
MARK = (40, 90, 200)


def calendar(size):
    """Returns size x size pixels (rows top to bottom) of (r, g, b, a); a = 0 outside the sheet."""
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    unit = size // 16  # 1 for the bitmap, 2 for the icon
    left, top, right, bottom = 1 * unit, 2 * unit, size - 2 * unit, size - 2 * unit

    def fill(x0, y0, x1, y1, rgb):
        for y in range(y0, y1):
            for x in range(x0, x1):
                px[y][x] = rgb + (255,)

    fill(left + unit, top + unit, right + unit, bottom + unit, SHADOW)  # drop shadow
    fill(left, top, right, bottom, PAGE)
    fill(left, top, right, top + 3 * unit, HEADER)
    for rx in (left + 3 * unit, right - 4 * unit):  # binding rings above the header
        fill(rx, top - unit, rx + unit, top + 2 * unit, RING)
    # Day cells: four columns, three rows, one of them marked as the planned day.
    cw = (right - left - unit) // 4
    for row in range(3):
        for col in range(4):
            x0 = left + unit + col * cw
            y0 = top + 4 * unit + row * 3 * unit
            colour = MARK if (row, col) == (1, 2) else CELL
            fill(x0, y0, x0 + max(unit, cw - unit), y0 + 2 * unit, colour)
    return px


def write_bmp(path, size):
    """A bottom-up 24-bit BMP without palette; rows padded to four bytes."""
    px = calendar(size)
    row_bytes = (size * 3 + 3) & ~3
    pixels = bytearray()
    for y in reversed(range(size)):
        row = bytearray()
        for r, g, b, a in px[y]:
            if a == 0:
                r, g, b = FACE
            row += bytes((b, g, r))
        row += b"\0" * (row_bytes - len(row))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(header + info + pixels)


def write_png(path, size):
    """A non-interlaced 8-bit RGBA PNG."""
    px = calendar(size)
    raw = bytearray()
    for row in px:
        raw.append(0)  # filter type: none
        for r, g, b, a in row:
            raw += bytes((r, g, b, a))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
                + chunk(b"IEND", b""))


if __name__ == "__main__":
    write_bmp(os.path.join(HERE, "DeviceBitmap.bmp"), 16)
    write_png(os.path.join(HERE, "DeviceIcon.png"), 32)
