#!/usr/bin/env bash
# Keyboard and screen reader use, on a private X server, D-Bus session and
# accessibility bus: every control has its name (atspi_names.py), Return
# presses each kind of button with real key presses, and a send that fails
# after its progress window showed leaves no progress window by the error.
#   e2e_keyboard.sh PROGRAM SIMULATOR WRITE_TEST_PAGE
set -euo pipefail
[[ -n "${KRV_PRIVATE_BUS:-}" ]] || KRV_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$work/atspi.log" 2>&1 &
stop_also+=($!)
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_xvfb
start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
start_app
xdotool windowfocus --sync "$window"
# Debian's Python, which python3-pyatspi serves.
/usr/bin/python3 "$(dirname "$0")/atspi_names.py" || fail "controls without their names"

note "Return on Test Print, Download Settings, a Help button and Close"
xdotool key Tab Return
wait_job 1
"$3" "$work/page.bin" && job_then_status "$job_file" 992 &&
    cmp -s "$job_only" "$work/page.bin" || fail "job 1 is not the test page"
xdotool key Tab Return
wait_job 2
xdotool key ctrl+Tab Tab Tab Return
help=''
help_shown() { help=$(xdotool search --onlyvisible --class krv520-config | grep -vx "$window" | head -n1); [[ -n $help ]]; }
wait_until "the help window" help_shown
xdotool key Escape
help_gone() { ! xdotool search --onlyvisible --class krv520-config | grep -qx "$help"; }
wait_until "Escape to close the help" help_gone
xdotool windowfocus --sync "$window" # no window manager hands it back
xdotool key ctrl+shift+Tab Tab Tab Tab Return
wait_until "Return on Close to end the program" app_gone
wait "$app_pid" || fail "the program ended with status $?"
app_pid=''

note "a send whose connection times out (5 s) after its progress window showed"
# A listener whose one-place queue holds its own connection: no other is answered.
/usr/bin/python3 -c 'import socket, time; l = socket.socket(); l.bind(("127.0.0.1", 0)); l.listen(0)
c = socket.create_connection(l.getsockname()); print(l.getsockname()[1], flush=True); time.sleep(300)' \
    >"$work/full" &
stop_also+=($!)
wait_until "the full listener" test -s "$work/full"
store_connection Kind=Tcp Host=127.0.0.1 "Port=$(cat "$work/full")"
start_app
xdotool windowfocus --sync "$window"
xdotool key Tab Tab Return
shown() { [[ -n "$($1)" ]]; }
wait_until "the progress window" shown progress_window
wait_until "the error box" shown other_windows
[[ -z "$(progress_window)" ]] || fail "the progress window stays beside the error box"
echo "PASS: names for screen readers, Return on each kind of button, no progress by an error"
