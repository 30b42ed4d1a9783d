#!/usr/bin/env bash
# Profiles between the window and the command line, with real key presses:
# three settings chosen and saved with Ctrl+S to a path typed in the dialog;
# krv520-cli sends that profile byte for byte as the window's Download
# Settings does; "krv520-config FILE" and a file dropped on the window (XDND,
# from a drag source the test starts) choose the same settings again.
#   e2e_profile.sh PROGRAM CLI DRAG_SOURCE ENTRY_TABLE
set -euo pipefail
APP=$1 CLI=$2 DRAG_SOURCE=$3 ENTRIES=$4
source "$(dirname "$0")/e2e_lib.sh"

# The bytes of a batch, from the product's entry table: LIST:INDEX... in
# visiting order, then the closing command.
batch_hex() {
    local choice token hex=''
    for choice in "$@"; do
        for token in $(awk -F'\t' -v l="${choice%:*}" -v i="${choice#*:}" \
            '$1 == l && $2 == i { print $4 }' "$ENTRIES"); do
            hex+="1b1d$(printf '%s' "$token" | od -An -tx1 | tr -d ' \n')0a00"
        done
    done
    echo "${hex}1b1d235730303030300a00"
}

profile="$work/profiles/shop.krv520-profile"
mkdir -p "$work/profiles" "$work/out"
out="$work/out/window.prn"
store_connection Kind=File "Path=$out"
has_size() { [[ -f "$1" && $(stat -c %s "$1") -eq $2 ]]; }
titled() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# download_matches WANT: Download Settings writes exactly the bytes of WANT.
download_matches() {
    rm -f "$out"
    download
    wait_until "the download in $out" has_size "$out" "$(stat -c %s "$1")"
    cmp -s "$out" "$1" || fail "the window sent $(od -An -tx1 "$out") instead of $(od -An -tx1 "$1")"
}

start_xvfb
start_app
xdotool windowfocus --sync "$window"

note "three settings, then Ctrl+S and a path typed in the dialog"
tab_general
choose 2 3 # Print Speed: "Low (50mm/s)"
tab_characters
choose 1 2 # International Character Set: "France"
choose 3 2 # Zero Style: "Slashed"
tab_printer
xdotool key ctrl+s
dialog=$(timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name '^Save Profile$' | head -n1) ||
    fail "no Save Profile dialog"
xdotool type --delay 20 "$profile"
xdotool key Return
wait_until "the profile at $profile" test -s "$profile"
wait_until "the title to name the profile" titled "shop.krv520-profile - $TITLE"

note "krv520-cli download --profile sends what Download Settings sends"
"$CLI" download --profile "$profile" --file "$work/cli.prn" >"$work/cli.log" 2>&1 ||
    fail "krv520-cli refused the saved profile: $(cat "$work/cli.log")"
expect_bytes "$work/cli.prn" "$(batch_hex cmbSpeed:3 cmbIntCSet:2 cmbZStyle:2)"
download_matches "$work/cli.prn"
close_app

note "krv520-config FILE"
"$APP" "$profile" >"$work/app.log" 2>&1 &
app_pid=$!
started+=("$app_pid")
window=$(timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible \
    --name "^shop.krv520-profile - ${TITLE}\$" | head -n1) || fail "no window named after the profile"
download_matches "$work/cli.prn"
close_app

note "a profile dropped on the window"
start_app
"$DRAG_SOURCE" "$profile" >"$work/drag.log" 2>&1 &
drag_pid=$!
started+=("$drag_pid")
timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name '^drag source$' >/dev/null ||
    fail "no drag source"
# Pressed on the source, carried over the window in steps, released on it.
xdotool mousemove 60 40 mousedown 1 sleep 0.3 mousemove 200 200 sleep 0.3 \
    mousemove --window "$window" 240 150 sleep 0.3 mousemove --window "$window" 250 160 sleep 0.3 mouseup 1
wait_until "the drop to name the profile" titled "shop.krv520-profile - $TITLE"
grep -qx 'drop copied' "$work/drag.log" || fail "the drag source says: $(cat "$work/drag.log")"
stop_pid "$drag_pid"
download_matches "$work/cli.prn"
close_app
echo "PASS: a profile saved in the window, sent by krv520-cli, opened from the command line and dropped"
