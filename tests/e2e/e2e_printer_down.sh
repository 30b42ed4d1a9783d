#!/usr/bin/env bash
# The printer is off: Download Settings reports the error in a message box,
# the program goes on with the operator's selections, and once the printer
# is back the next click delivers the batch.
#   e2e_printer_down.sh PROGRAM SIMULATOR
set -euo pipefail
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
command -v tesseract >/dev/null || fail "tesseract is needed to read the message box"

start_xvfb
# Take a free port for the printer, then switch the printer off.
start_sim 0
port=$sim_port
stop_sim
store_connection Kind=Tcp Host=127.0.0.1 "Port=$port"
start_app
choose_speed_and_zero

note "Download Settings with the printer off"
download
# The box carries the product name as its title, like the main window.
box=''
find_box() {
    box=$(title_windows | grep -vx "$window" | head -n1)
    [[ -n "$box" ]]
}
wait_until "a message box" find_box

# Its text, read off the screen; retried until the box has been painted.
box_text=''
box_says_refused() {
    import -window "$box" "$work/box.png" 2>/dev/null || return 1
    convert "$work/box.png" -resize 300% -colorspace Gray "$work/box-large.png" || return 1
    tesseract "$work/box-large.png" - >"$work/screen.txt" 2>/dev/null || return 1
    box_text=$(tr '\n' ' ' <"$work/screen.txt")
    [[ "$box_text" == *"Run-time error"*"1011"* && "$box_text" == *refused* &&
        "$box_text" == *"$port"* ]]
}
wait_until "the box to name error 1011, the refused connection and port $port" box_says_refused
echo "   the box reads: $box_text"

timeout "$WAIT_SECONDS" xdotool windowfocus --sync "$box" || fail "could not focus the message box"
xdotool key Return
box_gone() { [[ -z "$(title_windows | grep -vx "$window")" ]]; }
wait_until "the message box to close" box_gone
app_alive || fail "the program ended after the error"

note "Printer back on port $port; Download Settings again"
start_sim "$port"
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX" "$STATUS_HEX"
expect_switches_stored

note "Close"
close_app
echo "PASS: error reported, selections kept, delivered once the printer was back"
