#!/usr/bin/env bash
# Sets up what is missing, builds Kavel and runs it. Without a workspace (no kavel.servers in
# --home DIR or $KAVEL_HOME) it starts the built-in demo: two servers whose logs are written
# live. Arguments are passed on, e.g. scripts/run.sh --home ~/kavel-work
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target kavel-cli
exe=build/release/src/cli/kavel-cli

home="${KAVEL_HOME:-}"
for ((i = 1; i <= $#; i++)); do
    if [[ "${!i}" == --home ]]; then
        j=$((i + 1))
        home="${!j:-}"
    fi
done
if [[ -n "$home" && -f "$home/kavel.servers" ]]; then
    exec "$exe" watch "$@"
fi
exec "$exe" watch --demo "$@"
