#!/usr/bin/env bash
# A print scheduler that takes connections and never answers: the window is
# up within 2 s and keeps painting; Refresh (the panel) and Download Settings
# (a button) both report error 1036, naming the scheduler, in message boxes
# that look the same; closing while the queues are being looked up ends the
# program within a second.
#   e2e_silent_spooler.sh PROGRAM SIMULATOR WRITE_TEST_PAGE SILENT_PEER
set -euo pipefail
APP=$1 SIM=$2 SILENT_PEER=$4
source "$(dirname "$0")/e2e_lib.sh"
command -v tesseract >/dev/null || fail "tesseract is needed to read the message boxes"

start_xvfb
start_silent_peer
export CUPS_SERVER="127.0.0.1:$peer_port"
store_connection Kind=Spooler Queue=KRV520

note "Start with the scheduler silent"
start=$(now_ms)
start_app
elapsed=$(($(now_ms) - start))
echo "   window visible after $elapsed ms"
((elapsed < 2000)) || fail "the window took $elapsed ms to appear"

# The queue lookup is still pending: the window answers and repaints.
import -window "$window" "$work/printer.png"
tab_general
repainted() {
    import -window "$window" "$work/general.png" 2>/dev/null &&
        [[ "$(compare -metric AE "$work/printer.png" "$work/general.png" null: 2>&1)" != 0 ]]
}
wait_until "the General page to be painted while the queues are looked up" repainted
tab_printer

box=''
find_box() { box=$(other_windows | head -n1); [[ -n "$box" ]]; }
# expect_no_answer_box NAME: the box says 1036, names the scheduler; its
# picture is kept as $work/NAME.png, its title in $work/NAME.title.
expect_no_answer_box() {
    wait_until "a message box" find_box
    says_no_answer() {
        read_window "$box" || return 1
        [[ "$screen_text" == *"Run-time error"*"1036"* && "$screen_text" == *"did not answer"* &&
            "$screen_text" == *"$peer_port"* ]]
    }
    wait_until "the box to name error 1036 and the scheduler" says_no_answer
    echo "   $1: $screen_text"
    import -window "$box" "$work/$1.png"
    xdotool getwindowname "$box" >"$work/$1.title"
    timeout "$WAIT_SECONDS" xdotool windowfocus --sync "$box" || fail "could not focus the box"
    xdotool key Return
    box_gone() { [[ -z "$(other_windows)" ]]; }
    wait_until "the message box to close" box_gone
}

note "Refresh"
click 237 156
expect_no_answer_box refresh

note "Download Settings"
download
dialog=''
find_progress() { dialog=$(progress_window); [[ -n "$dialog" ]]; }
wait_until "the progress window" find_progress
import -window "$dialog" "$work/progress-1.png"
progress_changed() {
    import -window "$dialog" "$work/progress-2.png" 2>/dev/null &&
        [[ "$(compare -metric AE "$work/progress-1.png" "$work/progress-2.png" null: 2>&1)" != 0 ]]
}
wait_until "the progress window to be repainted" progress_changed
expect_no_answer_box download

note "Both boxes look the same"
[[ "$(cat "$work/refresh.title")" == "$TITLE" && "$(cat "$work/download.title")" == "$TITLE" ]] ||
    fail "box titles: '$(cat "$work/refresh.title")' and '$(cat "$work/download.title")'"
# The icon: the top left corner of each box, pixel for pixel.
convert "$work/refresh.png" -crop 48x48+0+0 +repage "$work/refresh-icon.png"
convert "$work/download.png" -crop 48x48+0+0 +repage "$work/download-icon.png"
[[ "$(compare -metric AE "$work/refresh-icon.png" "$work/download-icon.png" null: 2>&1)" == 0 ]] ||
    fail "the two boxes have different icons"

note "Close while the queues are being looked up"
click 237 156
sleep 0.2
start=$(now_ms)
click 428 276
wait_until "the program to end" app_gone
elapsed=$(($(now_ms) - start))
echo "   ended $elapsed ms after Close"
((elapsed < 1000)) || fail "the program took $elapsed ms to end"
wait "$app_pid" || fail "the program ended with status $?"
app_pid=''
echo "PASS: no stall at start, error 1036 from Refresh and a send, one look, prompt exit"
