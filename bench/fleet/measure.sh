#!/usr/bin/env bash
# krv520-cli to 100 printers that each take 1 s to close their end, --jobs
# 100, against the same download to one of them, alternating. Prints
#   result fleet one_s=MEDIAN all_s=MEDIAN runs=N printers=100
#   bench/fleet/measure.sh KRV520_CLI [RUNS]
set -euo pipefail
cli=$1 runs=${2:-5} count=100
work=$(mktemp -d)
printers_pid=''
# The printers end by our kill, so their status is never the script's.
cleanup() {
    if [[ -n "$printers_pid" ]]; then
        kill "$printers_pid" 2>/dev/null || true
        wait "$printers_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

python3 "$(dirname "$0")/printers.py" "$count" 1 >"$work/ports" &
printers_pid=$!
for _ in $(seq 100); do [[ -s "$work/ports" ]] && break; sleep 0.05; done
read -r -a ports <"$work/ports"
((${#ports[@]} == count)) || { echo "the printers did not start" >&2; exit 1; }
all=()
for port in "${ports[@]}"; do all+=(--tcp "127.0.0.1:$port"); done

# seconds COMMAND...: wall-clock seconds of one run that must succeed.
seconds() {
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", b - a }'
}
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for _ in $(seq "$runs"); do
    seconds "$cli" download --set cmbSpeed=1 --tcp "127.0.0.1:${ports[0]}" >>"$work/one"
    seconds "$cli" download --set cmbSpeed=1 --jobs "$count" "${all[@]}" >>"$work/all"
done
echo "result fleet one_s=$(median "$work/one") all_s=$(median "$work/all") runs=$runs printers=$count" \
    "all_min_s=$(sort -n "$work/all" | head -1) all_max_s=$(sort -n "$work/all" | tail -1)"
