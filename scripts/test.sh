#!/usr/bin/env bash
# Runs every test: host tests (g++ and clang, AddressSanitizer and
# UndefinedBehaviorSanitizer) and the checks of the real DLL under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh win gcc clang

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for flavour in gcc clang; do
    echo "== host tests ($flavour)"
    ctest --test-dir build/$flavour --output-on-failure -j "$(nproc)"
done

for check in tests/wine/*.sh; do
    [ -e "$check" ] || continue
    echo "== $(basename "$check")"
    bash "$check"
done
