#!/bin/sh
# Runs the tool on a demo world in BUILD/demo, made only when it is missing,
# so that a layer imported there stays; --reset makes it anew. At a terminal
# you answer the questions yourself; otherwise every layer whose bitmap is
# not there yet is exported with the proposed name.
#
#   tools/demo.sh [BUILD] [--reset]
set -eu
build=${1:-build}
demo="$build/demo"
mkdir -p "$demo"
if [ "${2:-}" = "--reset" ] || [ ! -f "$demo/WOODS.WLD" ]; then
    "$build/worldgen" world "$demo/WOODS.WLD" --width 256 --height 192 --seed 7 --layout shuffled
    echo "Made a new demo world: $demo/WOODS.WLD"
fi
cd "$demo"
if [ -t 0 ]; then
    cat <<'HOW'
How to answer:
  Open WOODS.WLD            type WOODS.WLD (Tab completes), then Enter
  each layer's question     y exports it, n imports it, c skips it
  a Save dialog             Enter takes the proposed name
  "Replace it? [y/N]"       y replaces the bitmap from an earlier export
  an Open dialog            the bitmap to import, e.g. landtype.bmp
Paint the bitmaps, then run make demo again and answer n to import them;
the world keeps what you import until make demo-reset.

HOW
    exec ../velmarsh
fi
# Without --replace an existing bitmap is not replaced: those layers are
# skipped (the exit code says so), and your painted bitmaps stay as they are.
../velmarsh export WOODS.WLD 2>/dev/null || true
echo
echo "Bitmaps in $(pwd) (those that were there already are kept; delete one to export it again):"
ls -l ./*.bmp
