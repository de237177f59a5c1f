#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets, made with the world generator.

  python3 tests/fuzz/seeds.py WORLDGEN OUT_DIR"""
import os
import struct
import subprocess
import sys
import tempfile

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
                    f.write(bytes([i * 37 & 0xFF]) + struct.pack("<H", len(world)) + world + pixels)
        for i, opts in enumerate(BITMAPS):
            bmp = generate(worldgen, "bmp", os.path.join(tmp, "b"), dict(opts, seed=i, pattern="noise"))
            with open(os.path.join(dirs["bmp_header"], f"bmp-{i}"), "wb") as f:
                f.write(struct.pack("<IIB", opts["width"], opts["height"], 0) + bmp)


if __name__ == "__main__":
    main()
