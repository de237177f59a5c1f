#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, made with the world generator
and, for every kind of image an import takes, here.

  python3 tests/fuzz/seeds.py WORLDGEN OUT_DIR"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

WORLDS = [
    dict(width=1, height=1), dict(width=3, height=2, layout="shuffled"),
    dict(width=5, height=4, layout="duplicates"), dict(width=4, height=3, layout="overlap"),
    dict(width=6, height=2, layout="odd", smallmap="before"), dict(width=2, height=5, junk=True),
    dict(width=7, height=3, broken="record-past-end", bad_cell="2,1"),
    dict(width=3, height=3, broken="smallmap-in-table"), dict(width=4, height=2, broken="short-header"),
    dict(width=9, height=1, broken="table-past-end"), dict(width=2048, height=1),
]
BITMAPS = [
    dict(width=4, height=3), dict(width=5, height=2, palette=16), dict(width=3, height=3, bits=24),
    dict(width=2, height=2, compression=1), dict(width=6, height=4, truncate=7),
    dict(width=1, height=1, top_down=True),
]


# ---- Every kind an import takes, written here from a pattern of pixels --------

def pixel(x, y):
    return (x * 37 + y * 11) & 0xFF


def bmp(width, height, bits, compression, body, palette=b"", masks=b"", top_down=False):
    start = 54 + len(masks) + len(palette)
    head = struct.pack("<2sIHHIIiiHHIIiiII", b"BM", start + len(body), 0, 0, start, 40, width,
                       -height if top_down else height, 1, bits, compression, len(body), 2835, 2835,
                       len(palette) // 4, 0)
    return head + masks + palette + body


def stored_rows(width, height, row_bytes, top_down=False):
    """Rows padded to 4 bytes, in the order the file stores them."""
    rows = []
    for y in (range(height) if top_down else range(height - 1, -1, -1)):
        row = row_bytes(y)
        rows.append(row + bytes(-len(row) % 4))
    return b"".join(rows)


def grey_palette(count):
    return b"".join(bytes([i * 255 // max(count - 1, 1)] * 3 + [0]) for i in range(count))


def packed(values, bits):
    out = bytearray()
    per = 8 // bits
    for i in range(0, len(values), per):
        byte = 0
        for j, v in enumerate(values[i:i + per]):
            byte |= (v & ((1 << bits) - 1)) << (8 - bits * (j + 1))
        out.append(byte)
    return bytes(out)


def rle(width, height, bits, top_down=False):
    """Runs, an absolute run, a delta and the end codes."""
    out = bytearray()
    for y in range(height):
        if y == 1 and height > 2:
            out += bytes([0, 2, 1, 1])  # a delta over a row
            continue
        out += bytes([2, pixel(0, y) & (0xFF if bits == 8 else 0x77)])
        rest = [pixel(x, y) & (0xFF if bits == 8 else 0x0F) for x in range(2, width)]
        if len(rest) >= 3:
            data = bytes(rest) if bits == 8 else packed(rest, 4)
            out += bytes([0, len(rest)]) + data + bytes(len(data) % 2)
        out += bytes([0, 0])
    return bytes(out + bytes([0, 1]))


def bmp_kinds(width, height):
    """One file of each BMP kind but the exported one, named."""
    w, h = width, height
    masks565 = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    masks32 = struct.pack("<III", 0x3FF00000, 0x000FFC00, 0x000003FF)
    return {
        "1bit": bmp(w, h, 1, 0, stored_rows(w, h, lambda y: packed([pixel(x, y) & 1 for x in range(w)], 1)),
                    grey_palette(2)),
        "4bit": bmp(w, h, 4, 0, stored_rows(w, h, lambda y: packed([pixel(x, y) for x in range(w)], 4)),
                    grey_palette(5)),  # indices beyond the palette are black
        "rle8": bmp(w, h, 8, 1, rle(w, h, 8), grey_palette(256)),
        "rle4-top-down": bmp(w, h, 4, 2, rle(w, h, 4, True), grey_palette(16), top_down=True),
        "16bit": bmp(w, h, 16, 0, stored_rows(w, h, lambda y: b"".join(
            struct.pack("<H", pixel(x, y) * 129) for x in range(w)))),
        "565": bmp(w, h, 16, 3, stored_rows(w, h, lambda y: b"".join(
            struct.pack("<H", pixel(x, y) * 257) for x in range(w))), masks=masks565),
        "24bit-top-down": bmp(w, h, 24, 0, stored_rows(w, h, lambda y: bytes(
            c for x in range(w) for c in (pixel(x, y), pixel(x, y), pixel(y, x))), True), top_down=True),
        "32bit-fields": bmp(w, h, 32, 3, stored_rows(w, h, lambda y: b"".join(
            struct.pack("<I", pixel(x, y) * 0x100401) for x in range(w))), masks=masks32),
    }


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def png(width, height, depth, colour, samples, plte=None, trns=None, interlace=False, chunk=None):
    """samples(x, y): the pixel's samples, each depth bits. Interlaced as
    Adam7's passes; the image data in chunks of chunk bytes, as programs
    split it."""
    def chunk_of(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = bytearray()
    for x0, y0, dx, dy in ADAM7 if interlace else [(0, 0, 1, 1)]:
        xs = range(x0, width, dx)
        if not xs:
            continue
        for i, y in enumerate(range(y0, height, dy)):
            values = [v for x in xs for v in samples(x, y)]
            raw.append(1 if i % 2 else 0)  # filters none and sub; sub of a zero row is the row
            if depth == 16:
                row = b"".join(struct.pack(">H", v) for v in values)
            elif depth == 8:
                row = bytes(values)
            else:
                row = packed(values, depth)
            if i % 2:
                step = max(1, depth * len(samples(0, y)) // 8)
                row = bytes((row[j] - (row[j - step] if j >= step else 0)) & 0xFF for j in range(len(row)))
            raw += row
    out = b"\x89PNG\r\n\x1a\n" + chunk_of(b"IHDR", struct.pack(">IIBBBBB", width, height, depth, colour, 0, 0,
                                                                   1 if interlace else 0))
    if plte is not None:
        out += chunk_of(b"PLTE", plte)
    if trns is not None:
        out += chunk_of(b"tRNS", trns)
    data = zlib.compress(bytes(raw))
    step = chunk or len(data)
    for i in range(0, len(data), step):
        out += chunk_of(b"IDAT", data[i:i + step])
    return out + chunk_of(b"IEND", b"")


def png_kinds(width, height):
    w, h = width, height
    return {
        "png-grey": png(w, h, 8, 0, lambda x, y: [pixel(x, y)]),
        "png-grey2": png(w, h, 2, 0, lambda x, y: [pixel(x, y) & 3], trns=b"\0\1"),
        "png-palette4": png(w, h, 4, 3, lambda x, y: [pixel(x, y) & 15], plte=bytes([0, 128, 0, 128, 128, 128]),
                            trns=b"\x80"),
        "png-rgb16": png(w, h, 16, 2, lambda x, y: [pixel(x, y) * 257, pixel(y, x) * 255, 40000]),
        "png-grey-alpha": png(w, h, 8, 4, lambda x, y: [pixel(x, y), 7]),
        "png-rgba": png(w, h, 8, 6, lambda x, y: [0, pixel(x, y), 0, 255]),
        # As image programs write them: interlaced, 16 bits, several image data chunks.
        "png-grey16-interlaced": png(w, h, 16, 0, lambda x, y: [pixel(x, y) * 257], interlace=True),
        "png-rgba16-interlaced": png(w, h, 16, 6, lambda x, y: [pixel(x, y) * 257, 9, pixel(y, x), 65535],
                                     interlace=True),
        "png-grey-alpha16": png(w, h, 16, 4, lambda x, y: [pixel(x, y), 65535], chunk=9),
        "png-palette2-interlaced": png(w, h, 2, 3, lambda x, y: [pixel(x, y) & 3],
                                       plte=bytes([0, 128, 0, 128, 128, 128, 255, 255, 0]), interlace=True, chunk=5),
    }


def generate(worldgen, kind, path, opts):
    args = [worldgen, kind, path]
    for key, value in opts.items():
        args += ["--" + key.replace("_", "-")] + ([] if value is True else [str(value)])
    subprocess.run(args, check=True)
    with open(path, "rb") as f:
        return f.read()


def main():
    worldgen, out = sys.argv[1], sys.argv[2]
    dirs = {t: os.path.join(out, t) for t in ("bmp_header", "world_import", "world_export")}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for i, opts in enumerate(WORLDS):
            world = generate(worldgen, "world", os.path.join(tmp, "w"), dict(opts, seed=i + 1))
            with open(os.path.join(dirs["world_export"], f"world-{i}"), "wb") as f:
                f.write(world)
            if len(world) < 65536:
                pixels = generate(worldgen, "bmp", os.path.join(tmp, "b"),
                                  dict(width=40, height=8, pattern="noise", seed=i))[1078:]
                with open(os.path.join(dirs["world_import"], f"world-{i}"), "wb") as f:
                    f.write(bytes([i * 37 & 0xFF, 0]) + struct.pack("<H", len(world)) + world + pixels)
        for i, opts in enumerate(BITMAPS):
            bmp_file = generate(worldgen, "bmp", os.path.join(tmp, "b"), dict(opts, seed=i, pattern="noise"))
            with open(os.path.join(dirs["bmp_header"], f"bmp-{i}"), "wb") as f:
                f.write(struct.pack("<IIB", opts["width"], opts["height"], 0) + bmp_file)
        # Every other kind for the check and the decoders, LandType's colours
        # for every other one; then whole runs importing them into a world.
        files = dict(bmp_kinds(7, 5), **png_kinds(7, 5))
        for i, (name, data) in enumerate(files.items()):
            with open(os.path.join(dirs["bmp_header"], name), "wb") as f:
                f.write(struct.pack("<IIB", 7, 5, i % 2) + data)
        names = sorted(files)
        for i in range(0, len(names), 2):
            world = generate(worldgen, "world", os.path.join(tmp, "w"), dict(width=4, height=3, seed=i))
            small, large = dict(bmp_kinds(4, 3), **png_kinds(4, 3)), dict(bmp_kinds(20, 15), **png_kinds(20, 15))
            kinds = [small, small, small, large]
            parts = [kinds[layer][names[(i + layer) % len(names)]] for layer in range(4)]
            longest = max(len(p) for p in parts)
            pool = b"".join(p + bytes(longest - len(p)) for p in parts)
            with open(os.path.join(dirs["world_import"], f"kinds-{i}"), "wb") as f:
                f.write(bytes([0, 0x0F]) + struct.pack("<H", len(world)) + world + pool)


if __name__ == "__main__":
    main()
