#!/bin/sh
# Makes a demo world and runs the tool on it. At a terminal you answer the
# prompts yourself; otherwise every layer is exported with the proposed names.
set -eu
build=${1:-build}
demo="$build/demo"
mkdir -p "$demo"
"$build/worldgen" world "$demo/WOODS.WLD" --width 256 --height 192 --seed 7 --layout shuffled
cd "$demo"
if [ -t 0 ]; then
    echo "Demo world: $(pwd)/WOODS.WLD"
    echo "Answer WOODS.WLD, then y and Enter for each layer to export it (n imports, c skips)."
    exec ../velmarsh
fi
rm -f smallmap.bmp landtype.bmp lmheight.bmp largemap.bmp
printf 'WOODS.WLD\ny\n\ny\n\ny\n\ny\n\n' | ../velmarsh 2>/dev/null
echo
echo "Exported to $(pwd):"
ls -l *.bmp
