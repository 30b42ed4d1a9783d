#!/usr/bin/env bash
# Profiles, with real key presses: three settings saved with Ctrl+S; krv520-cli
# sends the profile as Download Settings does; "krv520-config FILE", Ctrl+O
# and a drop on the window (XDND, drag_source) choose the same, and no more.
#   e2e_profile.sh PROGRAM CLI DRAG_SOURCE
set -euo pipefail
APP=$1 CLI=$2 DRAG_SOURCE=$3
source "$(dirname "$0")/e2e_lib.sh"

# "Low (50mm/s)", "France", "Slashed", closing command (the entry table).
readonly THREE_HEX='1b1d232d32303033300a00 1b1d232b32303032300a00 1b1d232d31303030460a00
                    1b1d232b31303030310a00 1b1d232b31303031300a00 1b1d235730303030300a00'
profile="$work/profiles/shop.krv520-profile" out="$work/window.prn"
mkdir -p "$work/profiles"
store_connection Kind=File "Path=$out"
titled() {
    window=$(xdotool search --onlyvisible --name "^shop.krv520-profile - $TITLE\$" 2>/dev/null | head -n1)
    [[ -n $window ]]
}
no_window() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
# in_dialog TITLE TEXT: types TEXT into the file dialog, Return, and it is gone.
in_dialog() {
    timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name "^$1\$" >/dev/null
    xdotool type --delay 20 "$2" && xdotool key Return
    wait_until "the dialog to close" no_window "$1"
}
has_size() { [[ -f "$1" && $(stat -c %s "$1") -eq $2 ]]; }
# Download Settings writes exactly what krv520-cli wrote.
download_matches() {
    rm -f "$out"
    download
    wait_until "the download in $out" has_size "$out" "$(stat -c %s "$work/cli.prn")"
    cmp -s "$out" "$work/cli.prn" || fail "the window sent $(od -An -tx1 "$out")"
}

start_xvfb
start_app
xdotool windowfocus --sync "$window"
note "three settings, Ctrl+S, a path typed in the dialog"
tab_general && choose 2 3 && tab_characters && choose 1 2 && choose 3 2 && tab_printer
xdotool key ctrl+s
in_dialog 'Save Profile' "$profile"
wait_until "the title to name the saved profile" titled
"$CLI" download --profile "$profile" --file "$work/cli.prn" || fail "krv520-cli refused the profile"
expect_bytes "$work/cli.prn" "$THREE_HEX"
download_matches
close_app

note "krv520-config FILE; then a fourth setting, and Ctrl+O with the bare file name"
"$APP" "$profile" >"$work/app.log" 2>&1 &
app_pid=$! && started+=("$app_pid")
wait_until "a window named after the profile" titled
download_matches
xdotool windowfocus --sync "$window"
tab_general && choose 1 1 && tab_printer
xdotool key ctrl+o
# Found only where the profile was saved: the dialog starts in that folder.
in_dialog 'Open Profile' "$(basename "$profile")"
download_matches
close_app

note "the profile dropped on the window"
start_app
"$DRAG_SOURCE" "$profile" >"$work/drag.log" 2>&1 &
stop_also+=($!)
timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name '^drag source$' >/dev/null || fail "no drag source"
# Pressed on the source, carried over the window's title label, released.
xdotool mousemove 60 40 mousedown 1 sleep 0.3 mousemove 200 200 sleep 0.3 \
    mousemove --window "$window" 240 50 sleep 0.3 mousemove --window "$window" 250 55 sleep 0.3 mouseup 1
wait_until "the drop to name the profile" titled
download_matches
close_app
echo "PASS: saved in the window, sent by krv520-cli, opened from the command line, Ctrl+O and a drop"
