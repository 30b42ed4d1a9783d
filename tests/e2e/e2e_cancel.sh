#!/usr/bin/env bash
# A printer that takes the connection and never reads: the send shows its
# progress, Cancel (a click, then Escape) ends it within 250 ms with the
# program's connection gone, and the selections and connection are still
# those of the window: with a real printer back on that port the next click
# delivers the batch.
#   e2e_cancel.sh PROGRAM SIMULATOR WRITE_TEST_PAGE SILENT_PEER
set -euo pipefail
APP=$1 SIM=$2 SILENT_PEER=$4
source "$(dirname "$0")/e2e_lib.sh"
command -v ss >/dev/null || fail "ss (iproute2) is needed to see the connections"
readonly CANCEL_MS=250

start_xvfb
start_silent_peer
port=$peer_port
store_connection Kind=Tcp Host=127.0.0.1 "Port=$port"
start_app
choose_speed_and_zero

# cancel_send HOW: starts Download Settings, waits for the progress, cancels
# it by HOW (click or escape) and checks the connection is gone in time.
cancel_send() {
    download
    local dialog=''
    find_progress() { dialog=$(progress_window); [[ -n "$dialog" ]]; }
    wait_until "the progress window" find_progress
    has_connection() { (($(app_connections "$port") > 0)); }
    wait_until "the program's connection to port $port" has_connection
    local start elapsed closes
    closes=$(peer_closes)
    if [[ $1 == click ]]; then
        # "Cancel" is the button in the bottom right corner.
        local geometry width height
        geometry=$(xdotool getwindowgeometry --shell "$dialog")
        width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
        height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
        xdotool mousemove --window "$dialog" $((width - 45)) $((height - 22))
        start=$(now_ms)
        xdotool click 1
    else
        timeout "$WAIT_SECONDS" xdotool windowfocus --sync "$dialog" ||
            fail "could not focus the progress window"
        start=$(now_ms)
        xdotool key Escape
    fi
    # The peer stamps the moment the connection goes.
    closed() { (($(peer_closes) > closes)); }
    wait_until "the printer to see the connection closed" closed
    elapsed=$(($(peer_closed_ms $((closes + 1))) - start))
    echo "   cancelled by $1: connection closed after $elapsed ms"
    ((elapsed < CANCEL_MS)) || fail "cancel by $1 took $elapsed ms (more than $CANCEL_MS ms)"
    (($(app_connections "$port") == 0)) ||
        fail "ss still lists a connection to port $port: $(ss -Htn "( dport = :$port )")"
    no_progress() { [[ -z "$(progress_window)" ]]; }
    wait_until "the progress window to close" no_progress
    [[ -z "$(other_windows)" ]] || fail "a message box came up after cancel by $1"
    app_alive || fail "the program ended after cancel by $1"
}

note "Download Settings to a printer that never reads; Cancel clicked"
cancel_send click
note "Again; Escape"
cancel_send escape

note "A working printer on port $port: the window still holds its selections"
stop_silent_peer
start_sim "$port"
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX" "$STATUS_HEX"
expect_switches_stored

close_app
echo "PASS: progress shown, cancel closed the connection in time, selections kept"
