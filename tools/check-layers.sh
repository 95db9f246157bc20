#!/usr/bin/env bash
# Checks that every project include runs down the floors, never up:
#
#   base/                          the ground floor: includes only itself
#   formats/ crypto/ net/ splash/  base/ and themselves
#   update/                        base/ formats/ crypto/ net/ and itself
#   app/                           everything
#   tools/                         base/ formats/ crypto/ and itself
#
# Tests, fuzzers and benchmarks stand outside the house and may include any
# floor. An include without a folder is a generated header of the build (the
# key blob, the launcher's identity) and is allowed. Reads the sources only,
# so it needs no build and takes well under a second. It also refuses the
# waits of the C++ library that can lose a wake-up (below).
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

allowed() {  # $1: the including folder; prints the folders it may include
    case "$1" in
        base) echo "base" ;;
        formats | crypto | net | splash) echo "base $1" ;;
        update) echo "base formats crypto net update" ;;
        app) echo "base formats crypto net splash update app resources" ;;
        tools) echo "base formats crypto tools" ;;
        *) echo "" ;;
    esac
}

bad=0
for floor in base formats crypto net splash update app tools; do
    ok=" $(allowed "$floor") "
    # file:line:#include "folder/name"
    while IFS= read -r hit; do
        target=${hit#*#include \"}
        target=${target%%\"*}
        [[ $target == */* ]] || continue
        top=${target%%/*}
        if [[ $ok != *" $top "* ]]; then
            echo "upward include: ${hit%%:#include*} includes \"$target\" ($floor/ may include only:$ok)"
            bad=1
        fi
    done < <(grep -rnE --include='*.cpp' --include='*.h' --include='*.inc' --include='*.rc' \
                 '^[[:space:]]*#[[:space:]]*include[[:space:]]+"' "$floor" 2>/dev/null |
             sed -E 's/:[[:space:]]*#[[:space:]]*include[[:space:]]+"/:#include "/')
done

# The toolchain's C++ library builds these on an atomic wait that can lose a
# wake-up, leaving a waiter asleep for good; the product waits on a mutex and
# a condition variable instead.
while IFS= read -r hit; do
    echo "lost wake-ups: ${hit%%:*} includes ${hit#*#include } (wait on a mutex and a condition variable)"
    bad=1
done < <(grep -rnE --include='*.cpp' --include='*.h' '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(semaphore|latch|barrier)>' \
             base formats crypto net splash update app tools 2>/dev/null |
         sed -E 's/:[0-9]+:[[:space:]]*#[[:space:]]*include[[:space:]]*/:#include /')

if [ "$bad" -ne 0 ]; then
    echo "check-layers: includes run up a floor or wait where wake-ups get lost (see above)"
    exit 1
fi
echo "check-layers: every include runs down the floors"
