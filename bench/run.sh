#!/usr/bin/env bash
# Runs the benchmarks of a build and prints one table: each figure beside its floor
# measured in the same run, the ratio ours / floor, the target and "ok" or "over".
#
#   bench/run.sh [BUILD_DIR] [NAME...]    (BUILD_DIR defaults to ./build; NAME is a
#                                          folder under bench/, e.g. homescreen)
#
# Each benchmark's own report goes to BUILD_DIR/bench/run.log. The exit status is
# non-zero when a benchmark failed to run, not when a figure is over its target.
set -u
here=$(cd "$(dirname "$0")" && pwd)
build=$here/../build
if [ $# -gt 0 ] && [ -d "$1" ]; then
    build=$1
    shift
fi
build=$(cd "$build" && pwd)

# Every benchmark the project has, in table order; one that is not built still gets a row.
all="materialdocument encrypt logger download homescreen workspace materiallist network filetransfer filecopier printerflood"
wanted=${*:-$all}

log=$build/bench/run.log
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT
: >"$log"
status=0
for name in $wanted; do
    bin=$build/bench/$name/bench_$name
    if [ ! -x "$bin" ]; then
        printf 'MISSING\t%s\tnot built in this build\n' "$name" >>"$rows"
        continue
    fi
    echo "running bench_$name ..." >&2
    out=$(mktemp)
    "$bin" >"$out" 2>&1
    code=$?
    { echo "== bench_$name (exit $code)"; grep -v '^BENCHROW' "$out"; } >>"$log"
    if grep -q '^BENCHROW' "$out"; then
        grep '^BENCHROW' "$out" >>"$rows"
    else
        printf 'MISSING\t%s\t%s\n' "$name" "$(grep -v '^BENCHROW' "$out" | tail -n 1)" >>"$rows"
    fi
    if [ $code -ne 0 ]; then
        printf 'MISSING\t%s\texited with status %d (see %s)\n' "$name" "$code" "$log" >>"$rows"
        status=1
    fi
    rm -f "$out"
done

awk -F'\t' '
function num(x) { return x + 0 }
function show(v) { return (v >= 1000 || v == int(v)) ? sprintf("%.0f", v) : sprintf("%.3g", v) }
BEGIN {
    printf "%-40s %12s %12s %-4s %7s %7s  %s\n", "benchmark", "ours", "floor", "unit", "ratio", "target", "verdict"
}
$1 == "BENCHROW" {
    ours = num($3); floor = num($4); target = $6
    ratio = floor != 0 ? ours / floor : 0
    verdict = "-"
    if (target ~ /^<=/) verdict = ratio <= num(substr(target, 3)) ? "ok" : "over"
    else if (target ~ /^>=/) verdict = ratio >= num(substr(target, 3)) ? "ok" : "over"
    else if (target ~ /^</) verdict = ratio < num(substr(target, 2)) ? "ok" : "over"
    else if (target ~ /^>/) verdict = ratio > num(substr(target, 2)) ? "ok" : "over"
    printf "%-40s %12s %12s %-4s %7.2f %7s  %s\n", $2, show(ours), show(floor), $5, ratio, target, verdict
    next
}
$1 == "MISSING" {
    printf "%-40s %s\n", $2, $3
}' "$rows"
echo "(each benchmark's own report: $log)"
exit $status
