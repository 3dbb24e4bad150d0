#!/usr/bin/env bash
# Builds the Debian package in build/package (optimised, without tests and benchmarks) and
# prints its path; install it with: sudo apt install ./build/package/kavel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build/package
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVEL_BUILD_TESTS=OFF \
    -DKAVEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/kavel_*.deb
(cd "$build" && cpack -G DEB -B "$PWD" >/dev/null)
ls "$PWD/$build"/kavel_*.deb
