#!/usr/bin/env bash
# Installs what the builds and tests need on a fresh Debian machine; quick when
# everything is already there.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
          libbenchmark-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
          wine wine32:i386 wine64 xvfb imagemagick x11-apps valgrind)

missing=()
for package in "${packages[@]}"; do
    dpkg -s "$package" >/dev/null 2>&1 || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
    dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
