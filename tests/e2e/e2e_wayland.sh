#!/usr/bin/env bash
# The program as a native Wayland client of a private weston, which runs on a
# private X server so that real key presses reach it: weston knows it by its
# desktop file's name, a download chosen by keyboard reaches the virtual
# printer, a maximise that weston forces (Super+Shift+M) leaves it running
# at its fixed size, and what was typed is stored, also when the program is
# killed a second after the typing.
#   e2e_wayland.sh PROGRAM SIMULATOR
set -euo pipefail
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
start_xvfb
printf '[core]\nidle-time=0\n[shell]\nlocking=false\n[input-method]\npath=/bin/true\n' >"$work/weston.ini"
# --debug opens the scene graph that weston-debug prints.
weston --config="$work/weston.ini" --backend=x11-backend.so --use-pixman --socket=wl-krv --debug \
    >"$work/weston.log" 2>&1 &
stop_also+=($!)
wait_until "weston" test -S "$XDG_RUNTIME_DIR/wl-krv"
export WAYLAND_DISPLAY=wl-krv
xdotool mousemove 2 300 # keys reach weston's window, and weston's focused client
# The window's size in the scene graph, found by its title and application id.
view_size() {
    timeout 10 weston-debug scene-graph 2>/dev/null | grep -A1 -F "'$TITLE' of krv520-config," |
        awk '/position:/ { gsub(/->/, " "); gsub(/[^-0-9 ]/, " "); print $3 - $1 "x" $4 - $2 }'
}

start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
# The protocol log shows weston's configure events.
QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=1 "$APP" >"$work/app.log" 2>&1 &
app_pid=$!
fixed=''
shown() { fixed=$(view_size); [[ -n $fixed ]]; }
wait_until "the window of application id krv520-config" shown
sleep 0.5 # weston hands a new window the keyboard
note "Print Speed 'Low (50mm/s)' chosen and sent by keyboard"
xdotool key ctrl+Tab Tab Tab Tab Down Down Down ctrl+shift+Tab Tab Tab Return
wait_job 1
sim_has_line 'Print Speed: Low (50mm/s) (switch 2' || fail "Print Speed did not change"

note "a host typed, then a maximise forced by weston"
xdotool key Tab Tab Tab ctrl+a
xdotool type 127.0.0.2
xdotool key super+shift+m
maximised() { grep -Eq 'xdg_toplevel@[0-9]+\.configure\([1-9]' "$work/app.log"; }
wait_until "weston to maximise the window" maximised
at_size() { app_alive && [[ $(view_size) == "$fixed" ]]; }
wait_until "the window to run at its $fixed again" at_size
note "a port typed; SIGKILL a second later"
xdotool key Tab ctrl+a
xdotool type 9123
sleep 1
kill -KILL "$app_pid"
store=$(cat "$XDG_CONFIG_HOME/vela/krv520-connection.conf")
[[ $store == *$'\nHost=127.0.0.2\n'* && $store == *$'\nPort=9123'* ]] || fail "the store holds: $store"
echo "PASS: a Wayland client that outlives a forced maximise and keeps what was typed"
