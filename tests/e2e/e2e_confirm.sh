#!/usr/bin/env bash
# A good send is confirmed in the window: what, how many bytes, where.
#   e2e_confirm.sh PROGRAM SIMULATOR WRITE_TEST_PAGE SILENT_PEER
set -euo pipefail
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
command -v tesseract >/dev/null || fail "tesseract is needed to read the confirmation"

start_xvfb
start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
start_app
choose_speed_and_zero
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX" "$STATUS_HEX"

# The line between the connection panel and the buttons.
confirmed() {
    read_window "$window" 470x36+20+227 || return 1
    [[ "$screen_text" == *"Sent 2 settings"*"44 bytes"* &&
        "$screen_text" == *"127.0.0.1 port $sim_port"* ]]
}
wait_until "the confirmation to name 2 settings, 44 bytes and port $sim_port" confirmed
echo "   the window reads: $screen_text"

close_app
echo "PASS: the send is confirmed with its size and destination"
