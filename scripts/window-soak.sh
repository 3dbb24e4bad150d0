#!/usr/bin/env bash
# Leaves the window alone with a live log whose lines expire ten seconds after they were
# written (a keep period of one hour, lines stamped 59 min 50 s in the past) and prints the
# resident size of kavel every 30 seconds: once the keep period is full it stays flat.
# Usage: scripts/window-soak.sh [SECONDS] [LINES_PER_SECOND] (release preset, built here;
# needs xvfb-run).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
rate="${2:-2000}"
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kavel LiveLog >/dev/null
work="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    # kavel runs under xvfb-run, not as this script's child: its files are written before the
    # folder goes.
    for _ in $(seq 100); do
        [ -n "${kavel:-}" ] && kill -0 "$kavel" 2>/dev/null || break
        sleep 0.1
    done
    rm -rf "$work"
}
trap cleanup EXIT
: >"$work/live.log"
# name;log;keep;poll;type;fields;zone;active;revisit;sound;unit;popup: one hour, polled every second.
printf '# Servers\r\nlive;%s;1;1000;0;0;0;-1;10;0;1;0\r\n' "$work/live.log" >"$work/kavel.servers"
printf '[Options]\r\nMiscDnsResolve=0\r\n' >"$work/kavel.config"
build/release/bench/LiveLog "$work/live.log" "$rate" 3590 &
pids+=($!)
xvfb-run -a build/release/src/app/kavel --home "$work" --styles "$work/styles.ini" &
pids+=($!)
kavel=""
for _ in $(seq 50); do
    # Anchored: xvfb-run's own command line holds the same words.
    kavel=$(pgrep -n -f "^build/release/src/app/kavel --home $work" || true)
    [ -n "$kavel" ] && break
    sleep 0.2
done
[ -n "$kavel" ] || { echo "kavel did not start" >&2; exit 1; }
pids=("$kavel" "${pids[@]}")
echo "seconds  rss_mb  log_lines"
for ((t = 0; t <= seconds; t += 30)); do
    rss=$(awk '/VmRSS/ { print $2 / 1024 }' "/proc/$kavel/status")
    printf '%7d  %6.1f  %9d\n' "$t" "$rss" "$(wc -l <"$work/live.log")"
    if [ "$t" -lt "$seconds" ]; then sleep 30; fi
done
