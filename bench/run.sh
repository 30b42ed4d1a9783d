#!/usr/bin/env bash
# Runs every benchmark against a build and prints one table of figures and
# targets. A missed target is reported, not failed: only a program that does
# not work makes this script fail.
#   bench/run.sh [BUILD_DIR]          (default: build)
# RUNS (start-up runs per program, default 30), SEND_RUNS (default 200),
# SIM_RUNS (default 50), FLEET_RUNS (default 5), STATUS_RUNS (default 200),
# DISCOVER_RUNS (default 10),
# STALL_SECONDS and CANCELS (the stuck job, default 20 s and 20 cancels) and
# MICRO_REPETITIONS and MICRO_MIN_TIME (default 5 and 0.5 s) change the run
# counts; WATCH_TARGETS and WATCH_SECONDS (default 1000 and 60) size the
# watch; the smoke test runs the whole script with small ones. The table is also written to BUILD_DIR/bench/results.txt.
set -euo pipefail

build=${1:-build}
bin=$build/bench
runs=${RUNS:-30}
send_runs=${SEND_RUNS:-200}
for program in krv520-config-bench-startup bare-window bare-window-text bare-window-libs krv-bench-launch krv-bench-micro krv-bench-send krv-bench-responsive krv-bench-status; do
    [[ -x "$bin/$program" ]] || { echo "$bin/$program is missing: build first" >&2; exit 1; }
done
silent_peer=$build/tests/e2e/silent_peer
[[ -x "$silent_peer" ]] || { echo "$silent_peer is missing: build first" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid='' peer_pid=''
stop_peer() {
    if [[ -n "$peer_pid" ]]; then
        kill "$peer_pid" 2>/dev/null || true
        wait "$peer_pid" 2>/dev/null || true
        peer_pid=''
    fi
}
stop_xvfb() {
    if [[ -n "$xvfb_pid" ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=''
    fi
}
cleanup() {
    stop_peer
    stop_xvfb
    rm -rf "$work"
}
trap cleanup EXIT

# Nothing the programs store may reach the operator's own configuration.
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"

# Start-up and memory on a real X server of our own. Xvfb writes the display
# number it took to fd 3. A desktop's X server never resets; one that resets
# whenever its last client leaves adds the reset (tens of milliseconds) to
# every start measured here and shrinks every ratio.
echo "start-up: $runs runs each under Xvfb, alternating..." >&2
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.05; done
[[ -s "$work/display" ]] || { echo "Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb \
    "$bin/krv-bench-launch" --runs "$runs" --warmup 2 --log "$work/startup.log" \
    "product=$bin/krv520-config-bench-startup" "bare=$bin/bare-window" \
    "text=$bin/bare-window-text" "libs=$bin/bare-window-libs" >"$work/startup.txt" ||
    { cat "$work/startup.log" >&2; exit 1; }
# The same with a TCP/IP connection stored: the window then needs neither the
# spooler's client nor the network library before the operator sends.
echo "start-up with a TCP/IP connection stored: $runs runs each, alternating..." >&2
mkdir -p "$work/config-tcp/vela"
printf '[KRV520Config]\nKind=Tcp\nHost=127.0.0.1\nPort=9100\n' >"$work/config-tcp/vela/krv520-connection.conf"
XDG_CONFIG_HOME="$work/config-tcp" DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb \
    "$bin/krv-bench-launch" --runs "$runs" --warmup 2 --log "$work/startup-tcp.log" \
    "product=$bin/krv520-config-bench-startup" "bare=$bin/bare-window" >"$work/startup-tcp.txt" ||
    { cat "$work/startup-tcp.log" >&2; exit 1; }

# Time to the first frame with a print scheduler that takes connections and
# never answers, against none at all (nothing listens, refused at once). The
# stored connection is the default, the spooler, so the window looks up its
# queues as it starts. Each is started through the same one-line wrapper.
echo "first frame with a silent scheduler: $runs runs each, alternating..." >&2
"$silent_peer" 0 3600 >"$work/peer.out" 2>&1 &
peer_pid=$!
for _ in $(seq 100); do grep -q 'listening on' "$work/peer.out" && break; sleep 0.05; done
peer_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/peer.out")
[[ -n "$peer_port" ]] || { cat "$work/peer.out" >&2; exit 1; }
for wrapper in silent:"127.0.0.1:$peer_port" none:127.0.0.1:1; do
    printf '#!/bin/sh\nCUPS_SERVER=%s exec %s\n' "${wrapper#*:}" "$(realpath "$bin/krv520-config-bench-startup")" \
        >"$work/${wrapper%%:*}.sh"
    chmod +x "$work/${wrapper%%:*}.sh"
done
DISPLAY=":$(cat "$work/display")" QT_QPA_PLATFORM=xcb \
    "$bin/krv-bench-launch" --runs "$runs" --warmup 2 --log "$work/silent.log" \
    "silent=$work/silent.sh" "none=$work/none.sh" >"$work/silent.txt" ||
    { cat "$work/silent.log" >&2; exit 1; }
stop_peer
stop_xvfb

# A printer that never reads: the window's event loop during a 20-second job,
# and Cancel to the connection closed.
stall_seconds=${STALL_SECONDS:-20} cancels=${CANCELS:-20}
echo "window responsiveness: a $stall_seconds-second job to a printer that never reads, $cancels cancels..." >&2
QT_QPA_PLATFORM=offscreen "$bin/krv-bench-responsive" --seconds "$stall_seconds" --runs "$cancels" \
    >"$work/responsive.txt" 2>"$work/responsive.log" || { cat "$work/responsive.log" >&2; exit 1; }

echo "micro-benchmarks..." >&2
QT_QPA_PLATFORM=offscreen "$bin/krv-bench-micro" --benchmark_repetitions="${MICRO_REPETITIONS:-5}" \
    --benchmark_min_time="${MICRO_MIN_TIME:-0.5}" \
    --benchmark_report_aggregates_only=true --benchmark_format=csv \
    >"$work/micro.csv" 2>"$work/micro.log" || { cat "$work/micro.log" >&2; exit 1; }

echo "send latency: $send_runs downloads to 127.0.0.1..." >&2
QT_QPA_PLATFORM=offscreen "$bin/krv-bench-send" --runs "$send_runs" >"$work/send.txt" 2>"$work/send.log" ||
    { cat "$work/send.log" >&2; exit 1; }

# The same download to the virtual printer, where it is built: it confirms a
# job by closing after reading and decoding it, which ends the handler.
sim=$build/tools/printer-sim/krv520-sim
sim_runs=${SIM_RUNS:-50}
if [[ -x "$sim" ]]; then
    echo "send to the virtual printer: $sim_runs downloads..." >&2
    "$sim" --port 0 --jobs $((sim_runs + 10)) >"$work/sim.txt" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do grep -q 'listening on' "$work/sim.txt" && break; sleep 0.05; done
    sim_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.txt" | head -n1)
    [[ -n "$sim_port" ]] || { kill "$sim_pid" 2>/dev/null; cat "$work/sim.txt" >&2; exit 1; }
    QT_QPA_PLATFORM=offscreen "$bin/krv-bench-send" --port "$sim_port" --runs "$sim_runs" --warmup 10 \
        >"$work/send-sim.txt" 2>"$work/send-sim.log" ||
        { kill "$sim_pid" 2>/dev/null; cat "$work/send-sim.log" >&2; exit 1; }
    wait "$sim_pid" || true
fi

# Many printers at once: 100 printers that take 1 s each, against one.
cli=$build/tools/cli/krv520-cli
fleet_runs=${FLEET_RUNS:-5}
[[ -x "$cli" ]] || { echo "$cli is missing: build first" >&2; exit 1; }
echo "fleet: 100 slow printers against one, $fleet_runs runs each, alternating..." >&2
"$(dirname "$0")/fleet/measure.sh" "$cli" "$fleet_runs" >"$work/fleet.txt"
# What asking for the status adds to a check of a ready printer: the virtual
# printer where it is built, else the benchmark's own stand-in.
status_runs=${STATUS_RUNS:-200}
echo "printer status: $status_runs checks and status queries on 127.0.0.1..." >&2
status_port=()
if [[ -x "$sim" ]]; then
    "$sim" --port 0 --status ready >"$work/sim-status.txt" 2>&1 &
    sim_pid=$!
    for _ in $(seq 100); do grep -q 'listening on' "$work/sim-status.txt" && break; sleep 0.05; done
    port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim-status.txt" | head -n1)
    [[ -n "$port" ]] || { kill "$sim_pid" 2>/dev/null; cat "$work/sim-status.txt" >&2; exit 1; }
    status_port=(--port "$port")
fi
"$bin/krv-bench-status" "${status_port[@]}" --runs "$status_runs" >"$work/status.txt" 2>"$work/status.log" ||
    { [[ -n "${status_port[*]}" ]] && kill "$sim_pid" 2>/dev/null; cat "$work/status.log" >&2; exit 1; }
if [[ -n "${status_port[*]}" ]]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
fi
status_peer=$([[ -n "${status_port[*]}" ]] && echo "krv520-sim" || echo "stand-in")

# Finding the printers: a /24 sweep with five virtual printers on one port,
# and with nothing listening.
discover_runs=${DISCOVER_RUNS:-10}
echo "discover: a /24 with five printers and with none, $discover_runs runs each..." >&2
"$(dirname "$0")/discover/measure.sh" "$build" "$discover_runs" >"$work/discover.txt"
# A long watch: memory and open files of "watch" over many printers.
watch_targets=${WATCH_TARGETS:-1000} watch_seconds=${WATCH_SECONDS:-60}
echo "watch: $watch_targets printers at --interval 5 for $watch_seconds s..." >&2
python3 "$(dirname "$0")/watch/measure.py" "$cli" "$watch_targets" "$watch_seconds" 5 32 >"$work/watch.txt" ||
    { cat "$work/watch.txt" >&2; exit 1; }

# field FILE LINE_START KEY: the value of KEY=... on the line that starts so.
field() {
    awk -v start="$2" -v key="$3" 'index($0, start) == 1 {
        for (i = 1; i <= NF; ++i) if (index($i, key "=") == 1) print substr($i, length(key) + 2) }' "$1"
}
# micro NAME: the median real time of benchmark NAME in microseconds.
micro() {
    awk -F, -v name="\"$1_median\"" '$1 == name {
        f = ($5 == "ns") ? 0.001 : ($5 == "ms") ? 1000 : ($5 == "s") ? 1e6 : 1
        printf "%.3f", $3 * f }' "$work/micro.csv"
}
# verdict VALUE LIMIT OP: "met" or "MISSED".
verdict() { awk -v v="$1" -v l="$2" -v op="$3" 'BEGIN {
    ok = (op == "<=") ? (v <= l) : (v < l); print ok ? "met" : "MISSED" }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

p_med=$(field "$work/startup.txt" "result product" wall_ms_median)
b_med=$(field "$work/startup.txt" "result bare" wall_ms_median)
p_rss=$(field "$work/startup.txt" "result product" rss_kb_median)
b_rss=$(field "$work/startup.txt" "result bare" rss_kb_median)
start_ratio=$(ratio "$p_med" "$b_med")
rss_ratio=$(ratio "$p_rss" "$b_rss")
tp_med=$(field "$work/startup-tcp.txt" "result product" wall_ms_median)
tb_med=$(field "$work/startup-tcp.txt" "result bare" wall_ms_median)
tp_rss=$(field "$work/startup-tcp.txt" "result product" rss_kb_median)
tb_rss=$(field "$work/startup-tcp.txt" "result bare" rss_kb_median)
tcp_start_ratio=$(ratio "$tp_med" "$tb_med")
tcp_rss_ratio=$(ratio "$tp_rss" "$tb_rss")
topics=$(micro SixteenHelpTopics)
topics_ms=$(awk -v u="$topics" 'BEGIN { printf "%.3f", u / 1000 }')
batch=$(micro LongestSettingsBatch)
batch_bytes=$(awk -F, '$1 == "\"LongestSettingsBatch_median\"" { print $NF }' "$work/micro.csv")
page=$(micro TestPage)
page_bytes=$(awk -F, '$1 == "\"TestPage_median\"" { print $NF }' "$work/micro.csv")
send_med=$(field "$work/send.txt" "result send" last_byte_us_median)
send_p90=$(field "$work/send.txt" "result send" last_byte_us_p90)
send_bytes=$(field "$work/send.txt" "result send" bytes)
send_ms=$(awk -v u="$send_med" 'BEGIN { printf "%.3f", u / 1000 }')
# The handler returns once the printer has confirmed the job (closed after
# ours, or acknowledged everything): the whole cost of a send to the operator.
done_ms=$(awk -v u="$(field "$work/send.txt" "result send" handler_us_median)" 'BEGIN { printf "%.3f", u / 1000 }')
send_p90_ms=$(awk -v u="$send_p90" 'BEGIN { printf "%.3f", u / 1000 }')

s_med=$(field "$work/silent.txt" "result silent" wall_ms_median)
n_med=$(field "$work/silent.txt" "result none" wall_ms_median)
silent_ratio=$(ratio "$s_med" "$n_med")
stall=$(field "$work/responsive.txt" "result stall" longest_stall_ms)
stall_p99=$(field "$work/responsive.txt" "result stall" p99_gap_ms)
stall_s=$(field "$work/responsive.txt" "result stall" seconds)
stall_idle=$(field "$work/responsive.txt" "result stall" idle_longest_stall_ms)
cancel_med=$(field "$work/responsive.txt" "result cancel" closed_ms_median)
cancel_max=$(field "$work/responsive.txt" "result cancel" closed_ms_max)
cancel_runs=$(field "$work/responsive.txt" "result cancel" runs)

spread() { # NAME: "q1-q3 ms, min-max ms" of a start-up program
    printf "IQR %s-%s ms, range %s-%s ms" \
        "$(field "$work/startup.txt" "result $1" wall_ms_q1)" "$(field "$work/startup.txt" "result $1" wall_ms_q3)" \
        "$(field "$work/startup.txt" "result $1" wall_ms_min)" "$(field "$work/startup.txt" "result $1" wall_ms_max)"
}

{
    printf '%s, load average %s, %s, %s CPUs (%s), Qt %s\n' "$(date -u '+%Y-%m-%d %H:%M UTC')" "$(cut -d' ' -f1-3 /proc/loadavg)" "$(uname -sr)" "$(nproc)" \
        "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)" \
        "$(awk '/^Version:/ { print $2; exit }' < <(dpkg -s qt6-base-dev 2>/dev/null) || true)"
    printf '%-34s %-44s %-10s %s\n' "Measure" "Measured" "Target" "Result"
    printf '%-34s %-44s %-10s %s\n' "Start-up, exec to exit" \
        "$start_ratio x bare ($p_med vs $b_med ms median)" "<= 1.25 x" "$(verdict "$start_ratio" 1.25 "<=")"
    printf '%-34s %-44s %-10s %s\n' "Start-up, TCP/IP stored" \
        "$tcp_start_ratio x bare ($tp_med vs $tb_med ms median)" "<= 1.25 x" "$(verdict "$tcp_start_ratio" 1.25 "<=")"
    printf '%-34s %-44s %-10s %s\n' "Peak resident memory" \
        "$rss_ratio x bare ($(mib "$p_rss") vs $(mib "$b_rss") MiB median)" "<= 1.3 x" "$(verdict "$rss_ratio" 1.3 "<=")"
    printf '%-34s %-44s %-10s %s\n' "Peak memory, TCP/IP stored" \
        "$tcp_rss_ratio x bare ($(mib "$tp_rss") vs $(mib "$tb_rss") MiB median)" "<= 1.25 x" "$(verdict "$tcp_rss_ratio" 1.25 "<=")"
    printf '%-34s %-44s %-10s %s\n' "16 help topics read into documents" "$topics_ms ms" "< 1 ms" "$(verdict "$topics_ms" 1 "<")"
    printf '%-34s %-44s %-10s %s\n' "Longest settings batch ($batch_bytes bytes)" "$batch us" "< 5 us" "$(verdict "$batch" 5 "<")"
    printf '%-34s %-44s %-10s %s\n' "Test page ($page_bytes bytes)" "$page us" "< 5 us" "$(verdict "$page" 5 "<")"
    printf '%-34s %-44s %-10s %s\n' "Download Settings to last byte" \
        "$send_ms ms median, p90 $send_p90_ms ms ($send_bytes bytes)" "< 10 ms" "$(verdict "$send_ms" 10 "<")"
    printf '%-34s %-44s %-10s %s\n' "First frame, silent spooler" \
        "$silent_ratio x none ($s_med vs $n_med ms median)" "<= 1.2 x" "$(verdict "$silent_ratio" 1.2 "<=")"
    printf '%-34s %-44s %-10s %s\n' "Longest stall, $stall_seconds-s stuck job" \
        "$stall ms (p99 gap $stall_p99 ms, ${stall_s} s job)" "< 50 ms" "$(verdict "$stall" 50 "<")"
    printf '%-34s %-44s %-10s %s\n' "Cancel to connection closed" \
        "$cancel_med ms median, max $cancel_max ms ($cancel_runs runs)" "< 250 ms" "$(verdict "$cancel_max" 250 "<")"
    printf '%-34s %-44s %-10s %s\n' "Download Settings, confirmed" \
        "$done_ms ms median" "< 10 ms" "$(verdict "$done_ms" 10 "<")"
    fleet_one=$(field "$work/fleet.txt" "result fleet" one_s)
    fleet_all_s=$(field "$work/fleet.txt" "result fleet" all_s)
    fleet_ratio=$(ratio "$fleet_all_s" "$fleet_one")
    printf '%-34s %-44s %-10s %s\n' "100 printers at once (1 s each)" \
        "$fleet_ratio x one ($fleet_all_s vs $fleet_one s median)" "< 2.5 x" "$(verdict "$fleet_ratio" 2.5 "<")"
    query_ms=$(awk -v u="$(field "$work/status.txt" "result status" query_us_median)" 'BEGIN { printf "%.3f", u / 1000 }')
    check_ms=$(awk -v u="$(field "$work/status.txt" "result status" check_us_median)" 'BEGIN { printf "%.3f", u / 1000 }')
    printf '%-34s %-44s %-10s %s\n' "Status query added to a check" \
        "$query_ms ms median (check $check_ms ms, $status_peer)" "<= 5 ms" "$(verdict "$query_ms" 5 "<=")"
    adds_ms=$(awk -v u="$(field "$work/status.txt" "result status" asking_adds_us_median)" 'BEGIN { printf "%.3f", u / 1000 }')
    plain_ms=$(awk -v u="$(field "$work/status.txt" "result status" job_plain_us_median)" 'BEGIN { printf "%.3f", u / 1000 }')
    printf '%-34s %-44s %-10s %s\n' "Status asked after a download" \
        "$adds_ms ms median added (download $plain_ms ms, $status_peer)" "< 2 ms" "$(verdict "$adds_ms" 2 "<")"
    sweep_ms=$(field "$work/discover.txt" "result printers" wall_ms_median)
    sweep_rss=$(field "$work/discover.txt" "result printers" rss_kb_median)
    sweep_empty_ms=$(field "$work/discover.txt" "result nothing" wall_ms_median)
    sweep_worst=$(awk -v a="$sweep_ms" -v b="$sweep_empty_ms" 'BEGIN { print (a > b) ? a : b }')
    sweep_ok=$([[ $(verdict "$sweep_worst" 2000 "<") == met && $(verdict "$sweep_rss" 65536 "<") == met ]] && echo met || echo MISSED)
    printf '%-34s %-44s %-10s %s\n' "Discover a /24, five printers" \
        "$sweep_ms ms, $(mib "$sweep_rss") MiB (none: $sweep_empty_ms ms)" "< 2 s, 64M" "$sweep_ok"
    w_peak=$(field "$work/watch.txt" "result watch" peak_rss_kb)
    printf '%-34s %-44s %-10s %s\n' "Watch, $watch_targets printers, ${watch_seconds} s" \
        "$(mib "$w_peak") MiB peak, $(mib "$(field "$work/watch.txt" "result watch" first_rss_kb)")->$(mib "$(field "$work/watch.txt" "result watch" last_rss_kb)") MiB, fds $(field "$work/watch.txt" "result watch" base_fds)-$(field "$work/watch.txt" "result watch" max_fds)" \
        "< 64 MiB" "$(verdict "$(mib "$w_peak")" 64 "<")"
    printf '\nStart-up spread over %s runs each: product %s; bare %s.\n' "$runs" "$(spread product)" "$(spread bare)"
    printf 'Peak memory range: product %s-%s KiB, bare %s-%s KiB.\n' \
        "$(field "$work/startup.txt" "result product" rss_kb_min)" "$(field "$work/startup.txt" "result product" rss_kb_max)" \
        "$(field "$work/startup.txt" "result bare" rss_kb_min)" "$(field "$work/startup.txt" "result bare" rss_kb_max)"
    t_med=$(field "$work/startup.txt" "result text" wall_ms_median)
    t_rss=$(field "$work/startup.txt" "result text" rss_kb_median)
    printf 'Bare window with one line of text (not a target): %s ms, %s MiB median; product = %s x its time, %s x its memory.\n' \
        "$t_med" "$(mib "$t_rss")" "$(ratio "$p_med" "$t_med")" "$(ratio "$p_rss" "$t_rss")"
    l_med=$(field "$work/startup.txt" "result libs" wall_ms_median)
    l_rss=$(field "$work/startup.txt" "result libs" rss_kb_median)
    printf 'Bare window with the spooler and network libraries loaded, unused (not a target): %s ms, %s MiB median = %s x bare memory.\n' \
        "$l_med" "$(mib "$l_rss")" "$(ratio "$l_rss" "$b_rss")"
    printf 'Help topics split: generating the RTF %s us, reading it %s us. Micro figures: median of %s repetitions, wall clock.\n' \
        "$(micro SixteenHelpTopicsLoadOnly)" "$(micro SixteenHelpTopicsReadOnly)" "${MICRO_REPETITIONS:-5}"
    printf 'Send: %s downloads; click to the window having the outcome (printer confirmed by closing) %s us median.\n' \
        "$send_runs" "$(field "$work/send.txt" "result send" handler_us_median)"
    printf 'Stall baseline: the idle window, same timer, just before the job: longest stall %s ms, p99 gap %s ms.\n' \
        "$stall_idle" "$(field "$work/responsive.txt" "result stall" idle_p99_gap_ms)"
    printf 'Cancel: the window has the outcome %s ms after cancel() (median), %s ms at most.\n' \
        "$(field "$work/responsive.txt" "result cancel" reported_ms_median)" \
        "$(field "$work/responsive.txt" "result cancel" reported_ms_max)"
    printf 'Status: %s checks of a ready printer (%s); the four requests and answers alone %s us median, IQR %s-%s us, p90 %s us, max %s us.\n' \
        "$status_runs" "$status_peer" "$(field "$work/status.txt" "result status" query_us_median)" \
        "$(field "$work/status.txt" "result status" query_us_q1)" "$(field "$work/status.txt" "result status" query_us_q3)" \
        "$(field "$work/status.txt" "result status" query_us_p90)" "$(field "$work/status.txt" "result status" query_us_max)"
    if [[ -s "$work/send-sim.txt" ]]; then
        printf 'Send to the virtual printer (krv520-sim), %s downloads: handler start to the printer confirming %s us median, p90 %s us.\n' \
            "$sim_runs" "$(field "$work/send-sim.txt" "result send-printer" handler_us_median)" \
            "$(field "$work/send-sim.txt" "result send-printer" handler_us_p90)"
    fi
} | tee "$bin/results.txt"
