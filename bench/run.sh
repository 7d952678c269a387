#!/usr/bin/env bash
# Runs every benchmark of a build (default: ./build) and prints their ratios.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
status=0
for b in $(find "$build/bench" -maxdepth 2 -type f -name 'bench_*' -perm -u+x | sort); do
    echo "== $(basename "$b")"
    "$b" || status=1
done
exit $status
