#!/usr/bin/env bash
# Takes docs/screenshot.png: builds kavel, starts its demo in a virtual X server (xvfb-run),
# waits until the lists have filled and the live traffic has added rows, and grabs the screen.
# Usage: scripts/screenshot.sh [OUTPUT.png] [SECONDS]; KAVEL_PRESET=dev uses the dev build.
set -euo pipefail
cd "$(dirname "$0")/.."
output="${1:-docs/screenshot.png}"
wait_seconds="${2:-8}"
scripts/install-deps.sh
preset="${KAVEL_PRESET:-release}"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target kavel
exe="$PWD/build/$preset/src/app/kavel"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$(dirname "$output")"
output="$(cd "$(dirname "$output")" && pwd)/$(basename "$output")"

# Inside the virtual display: kavel with a fresh demo workspace and fresh view settings; the
# window is grabbed after the wait, then closed with SIGTERM (which writes the files back).
# The window fills the virtual screen: its stored layout is set beforehand, with a quick
# filter in use (KAVEL_SCREENSHOT_FILTER, empty for none).
filter="${KAVEL_SCREENSHOT_FILTER-/img/}"
printf '[Styles]\r\nMainLeft=0\r\nMainTop=0\r\nMainWidth=1180\r\nMainHeight=720\r\nQuickFilterText=%s\r\n' \
    "$filter" >"$work/styles.ini"
xvfb-run --auto-servernum --server-args="-screen 0 1180x720x24" bash -c '
    set -euo pipefail
    exe="$1"; work="$2"; output="$3"; wait_seconds="$4"
    LC_ALL=C.UTF-8 QT_QPA_PLATFORM=xcb "$exe" --demo --home "$work/home" --styles "$work/styles.ini" \
        >"$work/kavel.out" 2>"$work/kavel.err" &
    pid=$!
    sleep "$wait_seconds"
    import -window root "$output"
    kill -TERM "$pid"
    wait "$pid"
' _ "$exe" "$work" "$output" "$wait_seconds"
echo "Screenshot: $output"
