#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, host flavour) and runs each for a bounded time,
# starting from its committed seed corpus in fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh                      # about a minute in all
#   FUZZ_SECONDS=1800 scripts/fuzz.sh    # half an hour per target
#   FUZZ_TARGETS=fuzz_scanner scripts/fuzz.sh
#
# New inputs collect in build/fuzz/corpus/<target>/ (the committed seeds stay
# as they are); FUZZ_FRESH=1 starts from the seeds alone and keeps nothing, so
# that a short run is not spent re-reading what earlier runs collected. A
# crashing input is kept as build/fuzz/findings/<target>-crash-* and makes the
# script fail. Each target's log is build/fuzz/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-20}
read -r -a targets <<<"${FUZZ_TARGETS:-fuzz_session fuzz_scanner fuzz_settings_file}"

# -O1: the targets run several times faster than at -O0, sanitizers unchanged.
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DTQ_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" >/dev/null
cmake --build build/fuzz -j "$(nproc)" --target "${targets[@]}"

# The simulation's scratch directories on a memory file system: on a disk
# every run waits for its files.
if [ -d /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p build/fuzz/findings
failed=()
for target in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$target
    if [ "${FUZZ_FRESH:-0}" = 1 ]; then
        corpus=build/fuzz/fresh/$target
        rm -rf "$corpus"
    fi
    mkdir -p "$corpus"
    echo "== $target, ${seconds} s"
    status=0
    "build/fuzz/$target" "$corpus" "fuzz/corpus/$target" -max_total_time="$seconds" \
        -rss_limit_mb=2048 -timeout=60 -max_len=4096 -print_final_stats=1 \
        -artifact_prefix="build/fuzz/findings/$target-" >"build/fuzz/$target.log" 2>&1 ||
        status=$?
    # The last coverage line and the run's totals.
    grep -E '^#[0-9]+.*(DONE|cov:)' "build/fuzz/$target.log" | tail -1 || true
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "build/fuzz/$target.log" || true
    if [ "$status" -ne 0 ]; then
        tail -40 "build/fuzz/$target.log"
        failed+=("$target")
    fi
done
rm -rf build/fuzz/fresh
if [ "${#failed[@]}" -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]} (inputs in build/fuzz/findings/)"
    exit 1
fi
