#!/usr/bin/env bash
# Runs each fuzz target of a GELV_FUZZ build for a bounded time.
#   tests/fuzz/run.sh <build folder> <seconds per target> [target...]
# New inputs go to <build>/fuzz/corpus/<target>, crash inputs to
# <build>/fuzz/crashes/<target>; the exit status is 1 when any target crashed.
# A single allocation over 512 MB counts as a crash: no input here needs one.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build folder}" && pwd)
seconds=${2:?seconds per target}
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for f in "$build"/fuzz/*.inputs; do targets+=("$(basename "$f" .inputs)"); done
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$here/../lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
    corpus=$build/fuzz/corpus/$t crashes=$build/fuzz/crashes/$t
    mkdir -p "$corpus" "$crashes"
    mapfile -t inputs < "$build/fuzz/$t.inputs"
    existing=()
    for i in "${inputs[@]}"; do [ -d "$i" ] && existing+=("$i"); done
    log=$build/fuzz/$t.log
    # Its own temporary and settings folders, as for every test; on a tmpfs in
    # a mount namespace of its own where it can, so file writes cost no disk.
    mkdir -p "$build/fuzz/home"
    run=(env GELV_TEST_ROOT="$build/fuzz/home/$t" "$here/../isolated.sh" "$build/tests/fuzz/fuzz_$t"
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=3072 -malloc_limit_mb=512 -max_len=65536
        -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" "${existing[@]}")
    if unshare -rm true 2>/dev/null; then
        unshare -rm sh -c 'mount -t tmpfs -o size=512m tmpfs "$0" && exec "$@"' "$build/fuzz/home" "${run[@]}" \
            >"$log" 2>&1
    else
        "${run[@]}" >"$log" 2>&1
    fi
    rc=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
    if [ $rc -eq 0 ]; then
        echo "fuzz $t: ${runs:-?} runs, $cov, no crash"
    else
        status=1
        echo "fuzz $t: FAILED (exit $rc), see $log; inputs kept in $crashes:"
        ls "$crashes"
        grep -m5 -E 'ERROR|property failed|runtime error' "$log"
    fi
done
exit $status
