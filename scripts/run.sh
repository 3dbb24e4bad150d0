#!/usr/bin/env bash
# Sets up what is missing, builds Kavel and starts the desktop program. Without a workspace (no
# kavel.servers in --home DIR or $KAVEL_HOME) it starts the built-in demo: two servers whose logs
# are written live. Arguments are passed on, e.g. scripts/run.sh --home ~/kavel-work
# Without a display it runs the same as the headless watcher, kavel-cli watch.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null

home="${KAVEL_HOME:-}"
for ((i = 1; i <= $#; i++)); do
    if [[ "${!i}" == --home ]]; then
        j=$((i + 1))
        home="${!j:-}"
    fi
done
demo=(--demo)
if [[ -n "$home" && -f "$home/kavel.servers" ]]; then
    demo=()
fi

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Kein Display (DISPLAY und WAYLAND_DISPLAY sind leer): Kavel läuft ohne Fenster als kavel-cli watch."
    cmake --build --preset release -j "$(nproc)" --target kavel-cli
    exec build/release/src/cli/kavel-cli watch "${demo[@]}" "$@"
fi
cmake --build --preset release -j "$(nproc)" --target kavel
exec build/release/src/app/kavel "${demo[@]}" "$@"
