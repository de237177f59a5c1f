#!/usr/bin/env python3
"""Bounded libFuzzer runs of every target, each from its seed corpus.

  python3 tests/fuzz/run_fuzzers.py FUZZ_BUILD WORLDGEN [--seconds N]

A crash, a sanitizer report or a broken invariant fails the run and leaves
the input as FUZZ_BUILD/crash-TARGET-*; copy it to regressions/TARGET/."""
import argparse
import os
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAX_LEN = {"bmp_header": 2048, "world_import": 8192, "world_export": 8192}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build")
    ap.add_argument("worldgen")
    ap.add_argument("--seconds", type=int, default=60)
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    seeds = os.path.join(build, "seeds")
    subprocess.run([sys.executable, os.path.join(HERE, "seeds.py"), args.worldgen, seeds], check=True)
    failed = 0
    for target, max_len in MAX_LEN.items():
        corpus = os.path.join(build, "corpus", target)
        os.makedirs(corpus, exist_ok=True)
        regressions = os.path.join(HERE, "regressions", target)
        dirs = [corpus, os.path.join(seeds, target)] + ([regressions] if os.path.isdir(regressions) else [])
        proc = subprocess.run(
            [os.path.join(build, "tests", "fuzz", f"fuzz_{target}"), f"-max_total_time={args.seconds}", f"-max_len={max_len}",
             "-timeout=20", "-rss_limit_mb=2048", "-print_final_stats=1",
             f"-artifact_prefix={build}/crash-{target}-", *dirs],
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, errors="replace")
        runs = re.findall(r"stat::number_of_executed_units:\s*(\d+)", proc.stdout)
        cov = re.findall(r"cov: (\d+)", proc.stdout)
        status = "ok" if proc.returncode == 0 else "FAILED"
        print(f"{target}: {status}, {runs[-1] if runs else '?'} inputs in {args.seconds} s, "
              f"coverage {cov[-1] if cov else '?'} edges")
        if proc.returncode != 0:
            print(proc.stdout[-4000:])
            failed += 1
    print(f"{3 - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
