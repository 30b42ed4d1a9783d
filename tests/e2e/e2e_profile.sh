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
# in_dialog TITLE TEXT: TEXT and Return in the file dialog; the title then
# names the profile saved or opened.
in_dialog() {
    local dialog
    dialog=$(timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name "^$1\$" | head -n1)
    xdotool windowfocus --sync "$dialog" type --delay 20 "$2" && xdotool key Return
    wait_until "the title to name the profile" titled
}
# Download Settings writes exactly what krv520-cli wrote; then Close.
download_matches_and_close() {
    rm -f "$out"
    download
    wait_until "Download Settings to write what krv520-cli wrote" cmp -s "$out" "$work/cli.prn"
    close_app
}

start_xvfb
start_app
xdotool windowfocus --sync "$window"
tab_general && choose 2 3 && tab_characters && choose 1 2 && choose 3 2 && tab_printer
xdotool key ctrl+s
in_dialog 'Save Profile' "$profile"
"$CLI" download --profile "$profile" --file "$work/cli.prn" || fail "krv520-cli refused the profile"
expect_bytes "$work/cli.prn" "$THREE_HEX"
download_matches_and_close

"$APP" "$profile" >"$work/app.log" 2>&1 &
app_pid=$! && started+=("$app_pid")
wait_until "a window named after the profile" titled
download_matches_and_close

start_app
xdotool windowfocus --sync "$window"
tab_general && choose 1 1 && tab_printer # a fourth setting the profile resets
xdotool key ctrl+o # the bare file name: found in the folder last used
in_dialog 'Open Profile' "$(basename "$profile")"
download_matches_and_close

start_app
"$DRAG_SOURCE" "$profile" >"$work/drag.log" 2>&1 &
stop_also+=($!)
timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name '^drag source$' >/dev/null || fail "no drag source"
xdotool mousemove 60 40 mousedown 1 sleep 0.3 mousemove 200 200 sleep 0.3 \
    mousemove --window "$window" 240 50 sleep 0.3 mousemove --window "$window" 250 55 sleep 0.3 mouseup 1
wait_until "the drop on the title label to name the profile" titled
download_matches_and_close
echo "PASS: saved in the window, sent by krv520-cli, opened from the command line, Ctrl+O and a drop"
