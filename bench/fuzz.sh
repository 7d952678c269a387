#!/usr/bin/env bash
# The long fuzz: builds the fuzz targets (./build.sh fuzz) and runs each for
# longer than CI does.   bench/fuzz.sh [seconds per target, default 600] [target...]
# Every crash input found is copied into tests/fuzz/data/<target>/, where each
# build replays it (test fuzzreplay_<target>): fix the fault, then commit it.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
"$root/build.sh" fuzz 0 >/dev/null || { echo "fuzz build failed" >&2; exit 1; }
"$root/tests/fuzz/run.sh" "$root/build-fuzz" "$seconds" "$@"
status=$?
for dir in "$root"/build-fuzz/fuzz/crashes/*/; do
    target=$(basename "$dir")
    for f in "$dir"*; do
        [ -f "$f" ] || continue
        cp -n "$f" "$root/tests/fuzz/data/$target/" && echo "kept $target/$(basename "$f") as a regression case"
    done
done
exit $status
