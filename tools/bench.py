#!/usr/bin/env python3
"""Times the tool's full export and full import of all four layers against the
copy limit: reading the world and writing as many bytes with large buffers.
An import that changes the world first backs it up and flushes it to disk at
the end, so its limit includes one copy of the world, flushed and renamed into
place as the backup is, and one flush of the world.

  python3 tools/bench.py [BUILD_DIR] [--runs N] [--sizes 1024,2047]

Prints one row per world and move: median seconds of the tool and of what it
is measured against, the world's MB/s through the tool, the ratio and the
tool's peak resident memory. The moves: "export" and "import" (of every
layer, each value moved on by one, so that every record changes) against the
copy limit; "same" (the import of the unchanged exports, which writes
nothing) against the export of the same run. Then, for the largest world
stored in order, LargeMap alone: imported from its edited BMP and from PNG
files of the same picture (greyscale as Pillow saves it, with a palette as
GIMP does, and RGB), and exported to BMP and to PNG: time, peak memory and
the ratio to the BMP."""
import argparse
import os
import statistics
import subprocess
import time

EXPORT_ANSWERS = b"WOODS.WLD\ny\n\ny\n\ny\n\ny\n\n"
IMPORT_ANSWERS = b"WOODS.WLD\nn\nsmallmap.bmp\nn\nlandtype.bmp\nn\nlmheight.bmp\nn\nlargemap.bmp\n"
EDITED_ANSWERS = IMPORT_ANSWERS.replace(b".bmp", b"-edited.bmp")
BITMAPS = ["smallmap.bmp", "landtype.bmp", "lmheight.bmp", "largemap.bmp"]
CHUNK = 4 << 20


def run_tool(tool, folder, answers):
    """Wall time and peak RSS (KiB) of one run of the tool."""
    rss_file = os.path.join(folder, "rss.txt")
    start = time.perf_counter()
    proc = subprocess.run(["/usr/bin/time", "-o", rss_file, "-f", "%M", tool], input=answers, cwd=folder,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True)
    elapsed = time.perf_counter() - start
    if not proc.stdout.rstrip().endswith(b"Done!"):
        raise SystemExit(f"the tool did not finish: {proc.stdout[-200:]!r}")
    with open(rss_file) as f:
        return elapsed, int(f.read().split()[-1])


def remove_bitmaps(folder, names):
    for name in names:
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass


def read_all(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        while os.read(fd, CHUNK):
            pass
    finally:
        os.close(fd)


def copy_export(folder, sizes):
    """Read the world, write the export's bytes to new files, large buffers."""
    remove_bitmaps(folder, [f"copy-{n}" for n in BITMAPS])
    block = bytes(CHUNK)
    start = time.perf_counter()
    read_all(os.path.join(folder, "WOODS.WLD"))
    for name, size in zip(BITMAPS, sizes):
        fd = os.open(os.path.join(folder, f"copy-{name}"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        while size > 0:
            size -= os.write(fd, block[:min(size, CHUNK)])
        os.close(fd)
    return time.perf_counter() - start


def copy_world(path, copy):
    """A copy of the world as the backup is made: written beside it under a
    temporary name, flushed, renamed, the folder flushed."""
    temp = copy + ".tmp"
    source = os.open(path, os.O_RDONLY)
    target = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
    while True:
        data = os.read(source, CHUNK)
        if not data:
            break
        os.write(target, data)
    os.fsync(target)
    os.close(target)
    os.close(source)
    os.rename(temp, copy)
    folder = os.open(os.path.dirname(copy), os.O_RDONLY | os.O_DIRECTORY)
    os.fsync(folder)
    os.close(folder)


def copy_import(folder):
    """Read the bitmaps, copy the world, then read the world and write its
    bytes back in place, and flush it."""
    path = os.path.join(folder, "WOODS.WLD")
    start = time.perf_counter()
    for name in BITMAPS:
        read_all(os.path.join(folder, name))
    copy_world(path, path + ".copy")
    fd = os.open(path, os.O_RDWR)
    offset = 0
    while True:
        data = os.pread(fd, CHUNK, offset)
        if not data:
            break
        os.pwrite(fd, data, offset)
        offset += len(data)
    os.fsync(fd)
    os.close(fd)
    return time.perf_counter() - start


def edit(folder, name, out):
    """The bitmap with every value moved on by one (LandType's among 0 to 2)."""
    with open(os.path.join(folder, name), "rb") as f:
        data = f.read()
    step = bytes((v + 1) % (3 if name == "landtype.bmp" else 256) for v in range(256))
    with open(os.path.join(folder, out), "wb") as f:
        f.write(data[:1078] + data[1078:].translate(step))


def restore(folder):
    """The world as the export found it, before an import that changes it."""
    with open(os.path.join(folder, "pristine.wld"), "rb") as src, open(os.path.join(folder, "WOODS.WLD"), "wb") as dst:
        while True:
            data = src.read(CHUNK)
            if not data:
                break
            dst.write(data)


def median_of(runs, measure, before=None):
    measure_and_prepare = lambda: (before and before(), measure())[1]
    measure_and_prepare()  # warm-up
    return [measure_and_prepare() for _ in range(runs)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--sizes", default="1024,2047")
    args = ap.parse_args()
    tool = os.path.abspath(os.path.join(args.build, "velmarsh"))
    gen = os.path.abspath(os.path.join(args.build, "worldgen"))
    root = os.path.abspath(os.path.join(args.build, "bench"))

    print(f"{'world':>18} {'move':>6} {'tool s':>8} {'limit s':>8} {'MB/s':>8} {'ratio':>9} {'peak RSS':>9}")
    for size in map(int, args.sizes.split(",")):
        for layout in ("inorder", "shuffled"):
            folder = os.path.join(root, f"{size}-{layout}")
            os.makedirs(folder, exist_ok=True)
            world = os.path.join(folder, "WOODS.WLD")
            subprocess.run([gen, "world", world, "--width", str(size), "--height", str(size),
                            "--seed", "11", "--layout", layout], check=True)
            megabytes = os.path.getsize(world) / 1e6

            name = f"{size}x{size} {layout}"
            export_runs = median_of(args.runs, lambda: run_tool(tool, folder, EXPORT_ANSWERS),
                                    before=lambda: remove_bitmaps(folder, BITMAPS))
            sizes = [os.path.getsize(os.path.join(folder, n)) for n in BITMAPS]
            copy_runs = median_of(args.runs, lambda: copy_export(folder, sizes))
            report(name, "export", export_runs, copy_runs, megabytes)

            os.replace(world, os.path.join(folder, "pristine.wld"))
            restore(folder)
            for bitmap in BITMAPS:
                edit(folder, bitmap, bitmap.replace(".bmp", "-edited.bmp"))
            tool_runs = median_of(args.runs, lambda: run_tool(tool, folder, EDITED_ANSWERS),
                                  before=lambda: restore(folder))
            copy_runs = median_of(args.runs, lambda: copy_import(folder))
            report(name, "import", tool_runs, copy_runs, megabytes)

            restore(folder)
            same_runs = median_of(args.runs, lambda: run_tool(tool, folder, IMPORT_ANSWERS))
            report(name, "same", same_runs, [t for t, _ in export_runs], megabytes)
            remove_bitmaps(folder, [f"copy-{n}" for n in BITMAPS] + ["WOODS.WLD.copy", "WOODS.WLD.bak"])
    largest = max(map(int, args.sizes.split(",")))
    largemap_imports(tool, os.path.join(root, f"{largest}-inorder"), args.runs, largest)


def largemap_imports(tool, folder, runs, size):
    """LargeMap alone: imported from its edited BMP and from PNG files of the
    same picture, and exported to BMP and to PNG."""
    from PIL import Image  # Debian's python3-pil
    Image.MAX_IMAGE_PIXELS = None
    pngs = ["largemap-grey.png", "largemap-palette.png", "largemap-rgb.png"]
    with Image.open(os.path.join(folder, "largemap-edited.bmp")) as im:
        im.save(os.path.join(folder, pngs[0]))
        indexed = Image.frombytes("P", im.size, im.tobytes())  # as GIMP saves an Indexed image
        indexed.putpalette([v for i in range(256) for v in (i, i, i)])
        indexed.save(os.path.join(folder, pngs[1]))
        im.convert("RGB").save(os.path.join(folder, pngs[2]))
    print(f"{'world':>18} {'LargeMap':>28} {'tool s':>8} {'x BMP':>6} {'peak RSS':>9} {'file MB':>8}")
    row = f"{size}x{size} inorder"
    imports = [("import from", name, b"n", lambda: restore(folder)) for name in ["largemap-edited.bmp"] + pngs]
    exports = [("export to", name, b"y", lambda name=name: remove_bitmaps(folder, [name]))
               for name in ("largemap-out.bmp", "largemap-out.png")]
    for moves in (imports, exports):
        bmp_s = None  # each group's first row is the BMP it is measured against
        for label, name, answer, before in moves:
            answers = b"WOODS.WLD\nc\nc\nc\n" + answer + b"\n" + name.encode() + b"\n"
            tool_runs = median_of(runs, lambda: run_tool(tool, folder, answers), before=before)
            tool_s = statistics.median(t for t, _ in tool_runs)
            bmp_s = bmp_s or tool_s
            rss = max(r for _, r in tool_runs) / 1024
            megabytes = os.path.getsize(os.path.join(folder, name)) / 1e6
            print(f"{row:>18} {label + ' ' + name:>28} {tool_s:8.3f} {tool_s / bmp_s:6.2f} {rss:7.1f} MiB "
                  f"{megabytes:8.1f}", flush=True)
    remove_bitmaps(folder, pngs + ["largemap-out.bmp", "largemap-out.png", "WOODS.WLD.bak"])


def report(world, move, tool_runs, copy_runs, megabytes):
    tool_s = statistics.median(t for t, _ in tool_runs)
    copy_s = statistics.median(copy_runs)
    rss = max(r for _, r in tool_runs) / 1024
    print(f"{world:>18} {move:>6} {tool_s:8.3f} {copy_s:8.3f} {megabytes / tool_s:8.0f} "
          f"{tool_s / copy_s:9.2f} {rss:7.1f} MiB", flush=True)


if __name__ == "__main__":
    main()
