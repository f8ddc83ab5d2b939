#!/usr/bin/env bash
# Builds the page pipeline benchmark (host flavour, Release, no sanitizers) and
# prints its figures: for an A4 page at 300 dpi and an A3 page at 600 dpi, with
# padded and unpadded scanner lines, the acquisition's own work, BuildDib, the
# memory transfer in 64 KiB buffers and WriteBmpFile on /dev/shm, each as a
# ratio to its floor (memcpy of the same bytes; one sequential write of the
# file). Then the instruction counts of one A3 600 dpi page under callgrind,
# which do not depend on the machine's load.
#
#   scripts/bench.sh                 everything, 5 repetitions
#   REPETITIONS=9 scripts/bench.sh   more repetitions
#   NO_CALLGRIND=1 scripts/bench.sh  the timings only
#
# Exits 2 when a timed ratio misses its target.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQ_SANITIZE=OFF -DTQ_BENCH=ON \
    > /dev/null
cmake --build "$build" -j2 --target page_pipeline_bench
bench=$build/page_pipeline_bench

echo "== machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- |
    sed 's/^ *//'), load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
"$bench" --benchmark_repetitions="${REPETITIONS:-5}" --benchmark_report_aggregates_only=true \
    --benchmark_counters_tabular=true || status=$?

if [ -z "${NO_CALLGRIND:-}" ] && command -v valgrind > /dev/null; then
    echo
    echo "== instructions (callgrind) of one A3 600 dpi page, padded lines"
    out=$(mktemp -d)
    valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.out" "$bench" --instructions \
        > "$out/log" 2>&1 || { cat "$out/log"; exit 1; }
    grep -m1 'A3 600 dpi' "$out/log" || true
    callgrind_annotate --inclusive=yes --threshold=100 "$out/callgrind.out" > "$out/annotated"
    # Inclusive instruction count of a function, by the end of its name.
    count() {
        grep -E "[ :]$1(\(|'| |\$)" "$out/annotated" | head -1 | awk '{gsub(",", "", $1); print $1}'
    }
    floor_copy=$(count '\(anonymous namespace\)::FloorCopy')
    floor_write=$(count '\(anonymous namespace\)::FloorWrite')
    printf '%-44s %14s %8s\n' "function (inclusive)" "instructions" "ratio"
    row() { # name, count, floor
        if [ -n "$2" ] && [ -n "$3" ]; then
            printf '%-44s %14s %8s\n' "$1" "$2" "$(awk "BEGIN{printf \"%.3f\", $2/$3}")"
        else
            printf '%-44s %14s %8s\n' "$1" "${2:-?}" "-"
        fi
    }
    row "memcpy of the page's rows (floor)" "$floor_copy" "$floor_copy"
    row "PlaceReadLines (acquisition's own work)" "$(count 'PlaceReadLines')" "$floor_copy"
    row "ReadPage (with the simulated reads)" "$(count 'ReadPage')" "$floor_copy"
    row "BuildDib" "$(count 'BuildDib')" "$floor_copy"
    row "memory transfer, the strips after the first" \
        "$(count '\(anonymous namespace\)::LaterStrips')" "$floor_copy"
    # The kernel's part of a write is not counted: no ratio for the file.
    row "one write of the file (floor, in the program)" "$floor_write" ""
    row "WriteBmpFile (in the program)" "$(count 'WriteBmpFile')" ""
    rm -rf "$out"
fi
exit "$status"
