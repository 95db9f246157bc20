#!/usr/bin/env bash
# Builds the shipped launcher of an earlier revision, for benchmarks that put
# it beside this tree's in the same run:
#   tools/build-old-launcher.sh REVISION BUILD_DIR PUBLIC_KEY
# The revision's files are taken with `git archive` into
# BUILD_DIR/old/<commit>/src (no second checkout to keep in step) and only its
# `tarnwick` target is built, with this tree's development public key so it
# accepts the benchmark's signed games. Prints the path of its tarnwick.exe;
# a second call for the same revision reuses the build.
set -euo pipefail
rev=$1
build=$2
key=$(realpath "$3")
here=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$here" rev-parse --verify "$rev^{commit}")
root="$build/old/${commit:0:12}"
exe="$root/src/build/win/tarnwick.exe"
if [ ! -f "$exe" ]; then
    rm -rf "$root"
    mkdir -p "$root/src"
    git -C "$here" archive "$commit" | tar -x -C "$root/src"
    log="$root/build.log"
    echo "building the launcher of ${commit:0:12} (log in $log)" >&2
    (cd "$root/src" &&
        cmake -S . -B build/win -DTW_TARGET=windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
            -DTW_PUBLIC_KEY_FILE="$key" -DTW_DEFAULT_SERVER_URL=https://updates.tarnwick.example/update/ &&
        cmake --build build/win --target tarnwick -j "${JOBS:-2}") >"$log" 2>&1 ||
        { tail -30 "$log" >&2; echo "the launcher of ${commit:0:12} did not build" >&2; exit 1; }
fi
echo "$exe"
