#!/usr/bin/env bash
# Builds the benchmarks in the release preset and runs every one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
for bench in build/release/bench/*Bench; do
    echo "== $(basename "$bench")"
    "$bench" "$@"
done
