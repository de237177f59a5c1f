#!/usr/bin/env python3
"""Replays the seed corpora and the saved regressions through each target.

  python3 tests/fuzz/replay.py WORLDGEN BIN_DIR WORK_DIR"""
import glob
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def main():
    worldgen, bin_dir, work = sys.argv[1:4]
    seeds = os.path.join(work, "seeds")
    subprocess.run([sys.executable, os.path.join(HERE, "seeds.py"), worldgen, seeds], check=True)
    failed = 0
    for target in ("bmp_header", "world_import", "world_export"):
        inputs = sorted(glob.glob(os.path.join(seeds, target, "*")) +
                        [p for p in glob.glob(os.path.join(HERE, "regressions", target, "*")) if not p.endswith("README")])
        r = subprocess.run([os.path.join(bin_dir, f"replay_{target}"), *inputs])
        print(f"{target}: {len(inputs)} inputs, exit {r.returncode}")
        failed += r.returncode != 0
    print(f"{3 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
