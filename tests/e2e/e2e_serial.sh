#!/usr/bin/env bash
# Serial port to the virtual printer on a pseudo-terminal: choose "Serial
# port" and type the terminal's path with the keyboard, download two
# settings, then print the test page; the choice is stored on Close.
#   e2e_serial.sh PROGRAM SIMULATOR WRITE_TEST_PAGE
set -euo pipefail
APP=$1 SIM=$2 WRITE_TEST_PAGE=$3
source "$(dirname "$0")/e2e_lib.sh"

start_xvfb
start_serial_sim
start_app

note "Serial port $sim_tty, 38400 8N1, XON/XOFF, chosen with the keyboard"
choose_speed_and_zero
# The panel's "Connection:" mnemonic; "Serial port" is the last kind.
xdotool key alt+n End Tab
xdotool type "$sim_tty"
xdotool key Tab Tab ctrl+a
xdotool type 38400
xdotool key Tab Tab End

note "Download Settings with Print Speed Low and Zero Style Slashed"
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX"
expect_switches_stored
sim_has_line "job 1: data on $sim_tty" || fail "job 1 did not come over the serial line"

note "Test Print, a second sender on the same line"
test_print
wait_job 2
"$WRITE_TEST_PAGE" "$work/expected-page.bin"
job_then_status "$job_file" 992
cmp "$job_only" "$work/expected-page.bin" || fail "the printed page differs from the test page"

note "Close stores the serial choice"
close_app
store="$XDG_CONFIG_HOME/vela/krv520-connection.conf"
for line in Kind=Serial "SerialDevice=$sim_tty" SerialSpeed=38400 SerialFrame=8N1 SerialFlow=xonxoff; do
    grep -qx -- "$line" "$store" || fail "the store lacks $line: $(cat "$store")"
done
echo "PASS: download and test print over a serial line"
