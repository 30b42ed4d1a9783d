#!/usr/bin/env bash
# Test Print to the virtual printer in each of its states: the confirmation
# line says what the printer said after the job and what it takes to print,
# in warning colours when it will not print now.
#   e2e_status.sh PROGRAM SIMULATOR WRITE_TEST_PAGE SILENT_PEER
set -euo pipefail
APP=$1 SIM=$2 SILENT_PEER=$4
source "$(dirname "$0")/e2e_lib.sh"
command -v tesseract >/dev/null || fail "tesseract is needed to read the confirmation"

# STATE|WORDS THE LINE HOLDS|WARNING (1: in warning colours)
states=(
    "ready|printer is ready|0"
    "paper-end|paper end*once paper is loaded|1"
    "cover-open|cover open*cover is closed|1"
    "offline|offline*back online|1"
    "silent|did not answer*check that it printed|0"
)

# The share of the line's pixels in a warning red.
red_share() {
    import -window "$window" "$work/line.png" 2>/dev/null &&
        convert "$work/line.png" -crop 470x36+20+227 +repage \
            -fx '(r>0.45 && g<0.25 && b<0.25) ? 1 : 0' -format '%[fx:mean]' info:
}

start_xvfb
for row in "${states[@]}"; do
    IFS='|' read -r state words warning <<<"$row"
    note "Test Print to a printer that is $state"
    start_sim 0 --status "$state"
    store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
    start_app
    test_print
    wait_job 1
    said() {
        read_window "$window" 470x36+20+227 || return 1
        [[ "$screen_text" == *"Sent the test page"*$words* ]]
    }
    wait_until "the confirmation to say \"$words\"" said
    echo "   the window reads: $screen_text"
    red=$(red_share)
    if ((warning)); then
        awk -v r="$red" 'BEGIN { exit !(r > 0.01) }' || fail "the line is not marked as a warning"
        sim_has_line "the printer was not ready ($state): the job waits in its buffer" ||
            fail "the simulator did not note that it was not ready"
    else
        awk -v r="$red" 'BEGIN { exit !(r == 0) }' || fail "the line is marked as a warning"
    fi
    close_app
    stop_pid "$sim_pid"
done
note "Test Print to a printer that takes the connection and never reads"
start_silent_peer
store_connection Kind=Tcp Host=127.0.0.1 "Port=$peer_port"
start_app
test_print
unconfirmed() {
    read_window "$window" 470x36+20+227 || return 1
    [[ "$screen_text" == *"did not answer"*"check that it printed"* ]]
}
wait_until "the confirmation to say that the printer did not answer" unconfirmed
echo "   the window reads: $screen_text"
close_app
stop_silent_peer
echo "PASS: every state is named after the job, with what it takes to print"
