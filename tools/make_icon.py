#!/usr/bin/env python3
"""Draws the Windows program's icon: a small map of land cells in the colours
that LandType exports use (green, grey, yellow) on a dark grid. Writes a .ico
with the sizes Windows asks for, each drawn for its own size so the grid
stays sharp: 32-bit images up to 48 pixels, a PNG for 256.

  python3 tools/make_icon.py OUTPUT.ico

The same output every time; the standard library only."""
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
# LandType 0, 1 and 2 as red, green, blue, alpha.
LAND = [(0, 128, 0, 255), (128, 128, 128, 255), (255, 255, 0, 255)]
GRID = (32, 40, 32, 255)
CLEAR = (0, 0, 0, 0)
# A stretch of woods, rock and fields; the small sizes show its top-left corner.
MAP = [[0, 0, 2, 2],
       [0, 1, 2, 2],
       [0, 1, 1, 0],
       [2, 0, 0, 0]]


def draw(size):
    """The picture as rows of (r, g, b, a), top row first."""
    cells = 3 if size < 24 else 4
    line = max(1, round(size / 40))
    margin = size // 32
    cell = (size - 2 * margin - (cells + 1) * line) // cells
    span = cells * cell + (cells + 1) * line
    start = (size - span) // 2
    pixels = [[CLEAR] * size for _ in range(size)]
    for y in range(span):
        for x in range(span):
            cx, inx = divmod(x, cell + line)
            cy, iny = divmod(y, cell + line)
            on_line = inx < line or iny < line or cx >= cells or cy >= cells
            pixels[start + y][start + x] = GRID if on_line else LAND[MAP[cy][cx]]
    return pixels


def dib(size, pixels):
    """A 32-bit image as an icon holds it: the info header (twice the height,
    for the mask), the pixels bottom row first as blue, green, red, alpha,
    then the 1-bit mask, set where the picture is clear."""
    mask_stride = (size + 31) // 32 * 4
    head = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    colour = bytearray()
    mask = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            colour += bytes((b, g, r, a))
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return head + bytes(colour) + bytes(mask)


def png(size, pixels):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in pixels)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon():
    images = [(size, png(size, draw(size)) if size >= 256 else dib(size, draw(size))) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
