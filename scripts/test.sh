#!/usr/bin/env bash
# Sets up what is missing, builds Kavel in the dev preset and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)"
ctest --preset dev -j "$(nproc)"
