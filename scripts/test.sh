#!/usr/bin/env bash
# Runs every test: host tests (g++ and clang, AddressSanitizer and
# UndefinedBehaviorSanitizer), the checks of the real DLL under Wine and a
# short run of each fuzz target.
# Runs all of them, then exits non-zero when any failed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh win gcc clang

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failures=()
for flavour in gcc clang; do
    echo "== host tests ($flavour)"
    ctest --test-dir build/$flavour --output-on-failure -j "$(nproc)" || failures+=("host tests ($flavour)")
done

skipped=()
for check in tests/wine/*.sh; do
    [ -e "$check" ] || continue
    name=$(basename "$check")
    echo "== $name"
    status=0
    bash "$check" || status=$?
    case "$status" in
    0) ;;
    77) skipped+=("$name") ;;
    *) failures+=("$name") ;;
    esac
done

echo "== fuzz targets"
FUZZ_FRESH=1 bash scripts/fuzz.sh || failures+=("fuzz targets")

echo "=="
[ "${#skipped[@]}" -eq 0 ] || echo "skipped: ${skipped[*]}"
if [ "${#failures[@]}" -gt 0 ]; then
    echo "FAILED: ${failures[*]}"
    exit 1
fi
echo "all tests passed"
