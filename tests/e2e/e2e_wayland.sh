#!/usr/bin/env bash
# The program as a native Wayland client of a private weston (on a private
# X server, so that real key presses reach it): the compositor knows it by
# its desktop file's name, a download chosen and sent with the keyboard
# reaches the virtual printer, a maximise forced by the compositor leaves it
# running at its fixed size, and what was typed in the connection panel is
# in the store, also when the program is killed a second after the typing.
#   e2e_wayland.sh PROGRAM SIMULATOR
set -euo pipefail
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
for tool in weston weston-debug; do
    command -v "$tool" >/dev/null || fail "$tool is needed (Debian package weston)"
done
store="$XDG_CONFIG_HOME/vela/krv520-connection.conf"

start_xvfb
cat >"$work/weston.ini" <<EOF
[core]
idle-time=0
[shell]
locking=false
[input-method]
path=/bin/true
EOF
# --debug opens the scene graph that weston-debug reads.
weston --config="$work/weston.ini" --backend=x11-backend.so --use-pixman --socket=wl-krv \
    --width=1000 --height=740 --debug >"$work/weston.log" 2>&1 &
stop_also+=($!)
started+=($!)
wait_until "weston's socket" test -S "$XDG_RUNTIME_DIR/wl-krv"
export WAYLAND_DISPLAY=wl-krv
# Keys reach weston's window on the X server, and weston's focused client.
xdotool mousemove 2 730

# view: the program's window in weston's scene graph, found by its title and
# application id, as "LEFT TOP RIGHT BOTTOM" (its frame included).
view=''
find_view() {
    view=$(timeout 10 weston-debug scene-graph 2>/dev/null |
        grep -A1 -F "top-level window '$TITLE' of krv520-config," |
        sed -n 's/.*position: (\(-\?[0-9]*\), \(-\?[0-9]*\)) -> (\(-\?[0-9]*\), \(-\?[0-9]*\)).*/\1 \2 \3 \4/p')
    [[ -n "$view" ]]
}
view_size() {
    local l t r b
    read -r l t r b <<<"$view"
    echo "$((r - l))x$((b - t))"
}

start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
# The protocol log shows the compositor's configure events.
QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=1 "$APP" >"$work/app.log" 2>&1 &
app_pid=$!
started+=("$app_pid")
wait_until "the window under weston with the application id krv520-config" find_view
fixed=$(view_size)
note "the window is $fixed under weston"

note "Print Speed 'Low (50mm/s)' chosen and sent with the keyboard"
sleep 0.5 # the window has the keyboard once weston has activated it
xdotool key ctrl+Tab Tab Tab Tab Down Down Down ctrl+shift+Tab Tab Tab Return
wait_job 1
sim_has_line 'Print Speed: Low (50mm/s) (switch 2 0000 -> 0020)' || fail "no change line for Print Speed"

note "a new host typed, then a maximise from the compositor (Super+Shift+M)"
# From Download Settings: Close, the connection list, the host field.
xdotool key Tab Tab Tab ctrl+a
xdotool type --delay 30 127.0.0.2
xdotool key super+shift+m
maximised() { grep -Eq 'xdg_toplevel@[0-9]+\.configure\([1-9][0-9]*, [1-9][0-9]*,' "$work/app.log"; }
wait_until "the compositor to configure the window maximised" maximised
back_to_size() { app_alive || fail "the program ended: $(grep -i error "$work/app.log" | tail -n3)"; find_view && [[ $(view_size) == "$fixed" ]]; }
wait_until "the window to be back at $fixed" back_to_size
note "the window is $(view_size) again"

note "a new port typed; SIGKILL a second later"
xdotool key Tab ctrl+a
xdotool type --delay 30 9123
sleep 1
app_alive || fail "the program ended: $(grep -i error "$work/app.log" | tail -n3)"
kill -KILL "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=''
grep -qx 'Host=127.0.0.2' "$store" || fail "the host typed before the maximise is not stored: $(cat "$store")"
grep -qx 'Port=9123' "$store" || fail "the port typed before the kill is not stored: $(cat "$store")"
echo "PASS: a Wayland client that survives a forced maximise and keeps what was typed"
