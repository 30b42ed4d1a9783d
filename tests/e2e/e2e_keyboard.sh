#!/usr/bin/env bash
# The window as a keyboard and screen reader user meets it, on a private X
# server with a private D-Bus session and accessibility bus: every control
# has a name a screen reader can speak, the focus is marked 2 px wide,
# Return presses each kind of button
# (Test Print, Download Settings, Help, Close) with real key presses, the
# help window is named by its topic, and a send that fails shows its error
# with no progress window left on the screen.
#   e2e_keyboard.sh PROGRAM SIMULATOR WRITE_TEST_PAGE
set -euo pipefail
if [[ -z "${KRV_PRIVATE_BUS:-}" ]]; then
    command -v dbus-run-session >/dev/null || { echo "FAIL: dbus-run-session (Debian dbus) is needed"; exit 1; }
    # The session bus, and with it the accessibility bus, end with the test.
    KRV_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
APP=$1 SIM=$2 WRITE_TEST_PAGE=$3
source "$(dirname "$0")/e2e_lib.sh"
checker="$(dirname "$0")/atspi_names.py"
# Debian's Python, which python3-pyatspi installs into.
python=/usr/bin/python3
launcher=/usr/libexec/at-spi-bus-launcher
[[ -x $launcher ]] || fail "$launcher (Debian at-spi2-core) is needed"
$python -c "import pyatspi" 2>/dev/null || fail "python3-pyatspi is needed"

"$launcher" --launch-immediately >"$work/atspi.log" 2>&1 &
stop_also+=($!)
started+=($!)
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

start_xvfb
start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
start_app
xdotool windowfocus --sync "$window"

note "the accessibility tree"
"$python" "$checker" tree || fail "controls without their names"

note "the focus mark: 2 px along Test Print's edge"
# Test Print stands at 24,264 in the window, 105 x 25; the top two pixel
# rows of its middle part, before and after Tab gives it the focus.
edge_rows() {
    import -window "$window" "$work/edge.png" 2>/dev/null || return 1
    convert "$work/edge.png" -crop 60x2+46+264 +repage -scale 1x2\! -depth 8 txt:- |
        sed -n 's/.*\(#[0-9A-F]\{6\}\).*/\1/p' | tr '\n' ' '
}
before=$(edge_rows)
xdotool key Tab
marked() { after=$(edge_rows); read -r a b <<<"$after"; [[ "$a" == "$b" && "$after" != "$before" ]]; }
wait_until "both edge rows of Test Print to take one new colour (before: $before)" marked
note "edge rows $before -> $after"

note "Return on Test Print and on Download Settings"
xdotool key Return
wait_job 1
"$WRITE_TEST_PAGE" "$work/page.bin"
cmp -s "$job_file" "$work/page.bin" || fail "job 1 is not the test page"
xdotool key Tab Return
wait_job 2

note "Return on a Help button"
xdotool key ctrl+Tab Tab Tab Return
help=''
help_shown() { help=$(xdotool search --onlyvisible --class krv520-config | grep -vx "$window" | head -n1); [[ -n "$help" ]]; }
wait_until "the help window" help_shown
# transient_for WINDOW: the window a manager places WINDOW over.
transient_for() { xprop -id "$1" WM_TRANSIENT_FOR | sed -n 's/.*window id # //p'; }
[[ $(($(transient_for "$help"))) == "$window" ]] || fail "the help window is not transient for the main window"
"$python" "$checker" window "Action on Form Feed" || fail "the help window is not named by its topic"
xdotool key Escape
help_hidden() { ! xdotool search --onlyvisible --class krv520-config | grep -qx "$help"; }
wait_until "Escape to close the help" help_hidden
# Without a window manager nobody hands the focus back to the window.
xdotool windowfocus --sync "$window"

note "Return on Close"
xdotool key ctrl+shift+Tab Tab Tab Tab Return
wait_until "the program to end after Return on Close" app_gone
status=0
wait "$app_pid" || status=$?
app_pid=''
[[ $status -eq 0 ]] || fail "the program ended with status $status"

note "a send that fails after its progress window showed"
# A printer that never takes the connection: a listener whose one-place
# queue is held by a connection of its own, so further ones are never
# answered and the program's connect times out (5 s).
"$python" -c '
import socket, sys, time
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(0)
fillers = [socket.socket() for _ in range(2)]
for s in fillers:
    s.setblocking(False)
    s.connect_ex(listener.getsockname())
print("listening on 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
time.sleep(300)
' >"$work/full.out" 2>&1 &
stop_also+=($!)
started+=($!)
wait_until "the full listener" grep -q 'listening on' "$work/full.out"
full_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/full.out")
store_connection Kind=Tcp Host=127.0.0.1 "Port=$full_port"
start_app
xdotool windowfocus --sync "$window"
xdotool key Tab Tab Return
shown=''
progress_shown() { shown=$(progress_window); [[ -n "$shown" ]]; }
wait_until "the progress window" progress_shown
[[ $(($(transient_for "$shown"))) == "$window" ]] || fail "the progress window is not transient for the main window"
box=''
box_shown() { box=$(other_windows | head -n1); [[ -n "$box" ]]; }
wait_until "the error box (the connection times out after 5 s)" box_shown
[[ -z "$(progress_window)" ]] || fail "the progress window is still on the screen with the error box"
read_window "$box" && note "the box reads: $screen_text"
[[ "$screen_text" == *"Run-time error"* ]] || fail "the box is no error report"
xdotool windowfocus --sync "$box" && xdotool key Return
box_gone() { [[ -z "$(other_windows)" ]]; }
wait_until "Return to close the box" box_gone
app_alive || fail "the program ended after the error"
echo "PASS: names for a screen reader, Return on every kind of button, no progress left behind an error"
