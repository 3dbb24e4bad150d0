#!/usr/bin/env bash
# Follows a log through the rotations of busy servers and counts: a writer numbers every line
# (tests/tools/RotationCheck.cpp), the log is rotated while "kavel-cli watch" follows it, and
# every numbered line must be printed exactly once. One line per run: lines written, printed,
# missing and printed twice.
# Usage: scripts/rotation-check.sh [--quick] (dev preset, built here).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=3
if [ "${1:-}" = "--quick" ]; then runs=1; fi
cmake --preset dev >/dev/null
cmake --build --preset dev -j2 --target kavel-cli rotation-check >/dev/null
check() { build/dev/tests/rotation-check --cli build/dev/src/cli/kavel-cli --runs "$runs" "$@"; }

# logrotate's create, the web server reopening its log 1, 2 or 3 seconds later; 200 lines/s.
for lag in 1 2 3; do check --scenario create --rate 200 --poll 1000 --lag "$lag"; done
# The relatives of create, at a 2 s lag.
for scenario in compress delaycompress dateext symlink delete; do
    check --scenario "$scenario" --rate 200 --poll 1000 --lag 2
done
# The default poll of 5 s.
check --scenario create --rate 200 --poll 5000 --lag 2
# Without the grace period (LogRotateGraceSeconds=0): the reader leaves the old file at once.
check --scenario create --rate 200 --poll 1000 --lag 2 --grace 0
# copytruncate at 5,000 lines/s; one second after the start the copy falls into a pass that
# is still reading.
check --scenario copytruncate --rate 5000 --poll 1000
check --scenario copytruncate --rate 5000 --poll 1000 --before 1
check --scenario copytruncate --rate 5000 --poll 5000
# The log's folder moved away for 3 and 8 s and back; deleted and created again.
check --scenario folder --rate 200 --poll 1000 --away 3
check --scenario folder --rate 200 --poll 1000 --away 8
check --scenario folder --rate 200 --poll 1000 --away 8 --grace 0
check --scenario folder-recreate --rate 200 --poll 1000 --away 3
