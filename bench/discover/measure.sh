#!/usr/bin/env bash
# "krv520-cli discover 127.0.0.0/24" with five virtual printers on one port
# (127.0.0.2 to .6), against the same sweep on a port where nothing listens.
# Wall time and peak memory through krv-bench-launch; prints its two result
# lines ("result printers ..." and "result nothing ...").
#   bench/discover/measure.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$1 runs=${2:-10}
cli=$build/tools/cli/krv520-cli sim=$build/tools/printer-sim/krv520-sim
work=$(mktemp -d)
pids=()
# The printers end by our kill, so their status is never the script's.
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# free_port: a port nothing listens on at 127.0.0.2 just now.
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.2", 0)); print(s.getsockname()[1])'; }
port=$(free_port) empty=$(free_port)
for n in 2 3 4 5 6; do
    "$sim" --address "127.0.0.$n" --port "$port" >"$work/sim$n.txt" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q 'listening on' "$work/sim$n.txt" && break; sleep 0.05; done
    grep -q 'listening on' "$work/sim$n.txt" || { cat "$work/sim$n.txt" >&2; exit 1; }
done
# krv-bench-launch runs programs without arguments: one exec line each, so
# the process measured is krv520-cli itself.
for run in printers:"$port" nothing:"$empty"; do
    printf '#!/bin/sh\nexec %s discover 127.0.0.0/24 --port %s\n' "$(realpath "$cli")" "${run#*:}" >"$work/${run%%:*}.sh"
    chmod +x "$work/${run%%:*}.sh"
done
"$build/bench/krv-bench-launch" --runs "$runs" --warmup 1 --log "$work/launch.log" \
    "printers=$work/printers.sh" "nothing=$work/nothing.sh" >"$work/launch.txt" ||
    { cat "$work/launch.log" >&2; exit 1; }
# Every run must have found the five.
found=$(grep -c '^ready	tcp 127\.0\.0\.[2-6]:' "$work/launch.log" || true)
((found == 5 * (runs + 1))) || { echo "discover found $found printers in $((runs + 1)) runs, not 5 each" >&2; cat "$work/launch.log" >&2; exit 1; }
grep '^result ' "$work/launch.txt"
