#!/usr/bin/env bash
# Runs every fuzz target for a bounded time on a copy of its seed corpus.
set -euo pipefail
build=$1
seconds=$2
status=0
for target in "$build"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    seeds=fuzz/corpus/${name#fuzz_}
    work=$build/fuzz-work/$name
    rm -rf "$work" && mkdir -p "$work"
    [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
    budget=$seconds
    # The JSON reader takes every byte a server or a damaged state file holds:
    # it gets the longest run.
    [ "$name" = fuzz_json ] && budget=$((seconds * 2))
    echo "-- $name for ${budget}s"
    if ! "$target" -max_total_time="$budget" -timeout=10 -rss_limit_mb=2048 -print_final_stats=0 \
            "$work" >"$build/fuzz-work/$name.log" 2>&1; then
        echo "$name found a problem:"; tail -n 40 "$build/fuzz-work/$name.log"; status=1
    else
        grep -E '^#[0-9]+.*DONE' "$build/fuzz-work/$name.log" | tail -n 1 || true
    fi
done
exit $status
