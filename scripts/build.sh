#!/usr/bin/env bash
# Builds the DLL (mingw-w64, i686) and the host flavour with g++ and clang.
# Usage: scripts/build.sh [win|gcc|clang|gcc-tools]...   (default: win gcc clang)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
flavours=("$@")
[ "${#flavours[@]}" -gt 0 ] || flavours=(win gcc clang)
for flavour in "${flavours[@]}"; do
    case "$flavour" in
    win)
        cmake -S . -B build/win -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
        cmake --build build/win -j "$jobs" ;;
    gcc)
        CC=gcc CXX=g++ cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
        cmake --build build/gcc -j "$jobs" ;;
    gcc-tools) # only the host programs the Wine runs need: the simulator's server, its pages, PNGs
        CC=gcc CXX=g++ cmake -S . -B build/gcc -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
        cmake --build build/gcc -j "$jobs" --target scanner_server expected_page page_png ;;
    clang)
        CC=clang CXX=clang++ cmake -S . -B build/clang -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
        cmake --build build/clang -j "$jobs" ;;
    *) echo "unknown flavour $flavour" >&2; exit 2 ;;
    esac
done
