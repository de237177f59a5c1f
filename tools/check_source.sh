#!/bin/sh
# The source as the project keeps it: formatted as .clang-format says (Debian's
# clang-format 14), includes running one way only: driver -> move -> world ->
# bitmap -> report -> platform (each may skip the ones between), and no
# circle among the files of src/.
#
#   tools/check_source.sh [CLANG_FORMAT]
set -u
cd "$(dirname "$0")/.."
format=${1:-clang-format}
status=0

if ! command -v "$format" >/dev/null 2>&1; then
    echo "check_source: $format is needed (Debian's clang-format)" >&2
    exit 1
fi
files=$(find src tests tools -name '*.cpp' -o -name '*.h' | sort)
if ! "$format" --dry-run --Werror $files; then
    echo "check_source: run $format -i on the files above" >&2
    status=1
fi

# folder, then the folders it must not include from
for rule in "move driver" "world driver move" "bitmap driver move world" "report driver move world bitmap" \
    "platform driver move world bitmap report"; do
    set -- $rule
    folder=$1
    shift
    for banned in "$@"; do
        if grep -rn "#include \"$banned/" "src/$folder"; then
            echo "check_source: src/$folder must not include from src/$banned" >&2
            status=1
        fi
    done
done
# No circle between the files of src/: a header and its .cpp are one piece.
if ! python3 - <<'PY'
import os, re, sys
pieces = {}
for root, _, files in os.walk("src"):
    for name in files:
        if name.endswith((".h", ".cpp")):
            piece = os.path.join(root, name.rsplit(".", 1)[0])[4:]
            text = open(os.path.join(root, name), encoding="utf-8").read()
            needs = {n.rsplit(".", 1)[0] for n in re.findall(r'#include "([^"]+)"', text)}
            pieces.setdefault(piece, set()).update(needs - {piece})
state = {}
def visit(piece, path):
    state[piece] = "open"
    for need in sorted(pieces.get(piece, ())):
        if state.get(need) == "open":
            sys.exit("check_source: includes run in a circle: " + " -> ".join(path + [need]))
        if need not in state:
            visit(need, path + [need])
    state[piece] = "done"
for piece in sorted(pieces):
    if piece not in state:
        visit(piece, [piece])
PY
then
    status=1
fi
exit $status
