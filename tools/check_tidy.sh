#!/bin/sh
# clang-tidy's bugprone checks (.clang-tidy) over the tool's own sources, as
# the build in BUILD_DIR compiles them (its compile_commands.json).
#
#   tools/check_tidy.sh BUILD_DIR [CLANG_TIDY]
set -u
cd "$(dirname "$0")/.."
build=$1
tidy=${2:-clang-tidy}
if ! command -v "$tidy" >/dev/null 2>&1; then
    echo "check_tidy: $tidy is needed (Debian's clang-tidy)" >&2
    exit 1
fi
# The Windows layer is not compiled here, so it has no commands to check with.
files=$(git ls-files 'src/*.cpp' 'tools/*.cpp' 2>/dev/null | grep -v '/win32/' ||
        find src tools -name '*.cpp' ! -path '*/win32/*')
printf '%s\n' $files | xargs -P 2 -n 4 "$tidy" -p "$build" --quiet 2>/dev/null
