#!/usr/bin/env bash
# Times the whole path from log file to queue: kavel-cli parse --summary over generated logs
# (1,000,000 NCSA Combined lines of about 270 bytes, and W3C lines with all 22 fields of about
# 310 bytes), every line inside the keep period, name look-up off. Prints wall and CPU time,
# lines a second (of wall and of CPU time: the latter does not depend on other load) and peak
# resident size.
# With --compare, kavel-cli, lnav (a headless count of the access_log table) and GoAccess (a
# JSON report) then read the same combined log in turns, three rounds, and the medians of their
# wall and CPU times are set side by side. lnav and GoAccess are for this comparison only (from
# Debian: apt-get install lnav goaccess); nothing of Kavel needs them.
# Usage: scripts/bench-ingest.sh [LINES] [--compare] (release preset, built here).
set -euo pipefail
cd "$(dirname "$0")/.."
lines=1000000
compare=0
for arg in "$@"; do
    case "$arg" in
    --compare) compare=1 ;;
    *) lines="$arg" ;;
    esac
done
cmake --preset release >/dev/null
cmake --build --preset release -j2 --target kavel-cli GenerateLog >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
printf '[Options]\r\nMiscDnsResolve=0\r\n' >"$work/kavel.config"
# Every classification at work: documents (and so the revisit rule), spiders and buddies.
printf '.htm\r\n.php\r\n' >"$work/kavel.documents"
printf '# Spiders Definition File\r\n20.0.0.1;0\r\n21.1.7.2;0\r\n66.249.66.1;0\r\n' >"$work/kavel.spiders"
printf '20.1.7.2\r\n127.0.0.1\r\n' >"$work/kavel.buddies"
build/release/bench/GenerateLog ncsa "$lines" "$work/combined.log"
build/release/bench/GenerateLog w3c "$lines" "$work/w3c.log"
run() {
    local name="$1" file="$2" server="$3"
    local size
    size=$(stat -c %s "$file")
    /usr/bin/time -f '%e %U %S %M' -o "$work/time" \
        build/release/src/cli/kavel-cli parse --summary --home "$work" --now '2024-03-03 00:00:00' \
        --server "$server" "$file" >"$work/out"
    read -r wall user sys rss <"$work/time"
    awk -v n="$name" -v l="$lines" -v w="$wall" -v u="$user" -v s="$sys" -v r="$rss" -v b="$size" 'BEGIN {
        printf "%-9s %8d lines %7.1f MB  %6.2f s wall (%.2f user, %.2f sys)  %9.0f lines/s  %9.0f lines/CPU-s  peak RSS %7.1f MB (%.2f x log)\n",
            n, l, b / 1e6, w, u, s, (w > 0 ? l / w : 0), (u + s > 0 ? l / (u + s) : 0), r / 1024, r * 1024 / b }'
    grep -E 'accepted|documents|spiders|revisitors' "$work/out" | tr '\n' ' '
    echo
}
run ncsa "$work/combined.log" "bench;combined.log;30;5;0;0;0;1;0;0;0;0"
run w3c "$work/w3c.log" "bench;w3c.log;30;5;1;4194303;0;1;0;0;0;0"

[[ "$compare" == 1 ]] || exit 0
for tool in lnav goaccess; do
    command -v "$tool" >/dev/null || { echo "--compare needs $tool (apt-get install lnav goaccess)" >&2; exit 1; }
done
# Neither tool may read or write the user's own configuration.
export HOME="$work/home"
mkdir -p "$HOME"
declare -A walls cpus
timed() {
    local name="$1"
    shift
    /usr/bin/time -f '%e %U %S' -o "$work/time" "$@" >"$work/out.$name" 2>/dev/null
    read -r wall user sys <"$work/time"
    walls[$name]+="$wall "
    cpus[$name]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') "
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for round in 1 2 3; do
    timed kavel build/release/src/cli/kavel-cli parse --summary --home "$work" --now '2024-03-03 00:00:00' \
        --server "bench;combined.log;30;5;0;0;0;1;0;0;0;0" "$work/combined.log"
    timed lnav lnav -n -c ';SELECT count(*) FROM access_log' -c ':write-csv-to -' "$work/combined.log"
    timed goaccess goaccess "$work/combined.log" --log-format=COMBINED --no-global-config --no-progress \
        -o "$work/report.json"
done
# Each tool must have read every line, or its time means nothing.
grep -q "^accepted[[:space:]]*$lines" "$work/out.kavel" || { echo "kavel-cli did not accept every line" >&2; exit 1; }
[[ "$(tail -n 1 "$work/out.lnav")" == "$lines" ]] || { echo "lnav did not count every line" >&2; exit 1; }
kavelWall=$(median <<<"${walls[kavel]}")
kavelCpu=$(median <<<"${cpus[kavel]}")
for name in kavel lnav goaccess; do
    wall=$(median <<<"${walls[$name]}")
    cpu=$(median <<<"${cpus[$name]}")
    awk -v n="$name" -v w="$wall" -v c="$cpu" -v kw="$kavelWall" -v kc="$kavelCpu" 'BEGIN {
        printf "%-9s median of 3: %6.2f s wall, %6.2f s CPU   %5.1f x kavel-cli (wall), %5.1f x (CPU)\n", n, w, c, w / kw, c / kc }'
done
