#!/usr/bin/env bash
# Starts the built program under a private X server, waits for its window,
# clicks "Close" and expects a clean exit. Leaves no process behind.
#   xvfb_start_close.sh PROGRAM
set -euo pipefail
program=$1
title='Vela KRV520 Configuration Utility'
work=$(mktemp -d)
xvfb_pid='' app_pid=''
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses: Xvfb writes the one it took to the fd.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s "$work/display" ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME" && mkdir -m 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM

"$program" >"$work/app.log" 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name "^${title}\$" | head -n1)
[[ -n "$window" ]] || { echo "no window titled '$title'"; cat "$work/app.log"; exit 1; }
echo "window $window: $(xdotool getwindowname "$window")"

# "Close" stands at 376,264 (105 x 25) in the window's client area.
xdotool mousemove --window "$window" 428 276 click 1
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app_pid" 2>/dev/null; then
    echo "the program did not end after Close"
    exit 1
fi
status=0
wait "$app_pid" || status=$?
app_pid=''
[[ $status -eq 0 ]] || { echo "exit status $status"; cat "$work/app.log"; exit 1; }
[[ -n "$(find "$XDG_CONFIG_HOME" -type f)" ]] ||
    { echo "the connection settings were not stored on close"; exit 1; }
echo "started, showed '$title', ended cleanly on Close"
