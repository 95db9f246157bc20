#!/usr/bin/env bash
# Runs one build stage with its output kept in a log file and prints one line
# when it is done. When the stage fails, or its compilers warn, the log is
# shown without the progress chatter (directory and object lines). VERBOSE=1
# runs the stage with all its output instead.
#   quiet-stage.sh LABEL LOG_FILE COMMAND [ARGS...]
set -uo pipefail
label=$1
log=$2
shift 2
if [ "${VERBOSE:-0}" != 0 ]; then
    exec "$@"
fi
mkdir -p "$(dirname "$log")"
start=$SECONDS
"$@" >"$log" 2>&1
status=$?
noise='^(\[ *[0-9]+%\]|g?make\[[0-9]+\]: (Entering|Leaving) directory|Consolidate compiler generated dependencies|-- )'
if [ $status -ne 0 ]; then
    grep -E -v "$noise" "$log"
    echo "== $label: FAILED (whole output in $log)"
    exit $status
fi
if grep -q -E 'warning:|CMake Warning' "$log"; then
    grep -E -v "$noise" "$log"
    echo "== $label: done, with warnings (whole output in $log)"
else
    echo "== $label: done ($((SECONDS - start)) s)"
fi
