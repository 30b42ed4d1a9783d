#!/usr/bin/env bash
# TCP/IP to the virtual printer: pick two settings with the mouse and the
# keyboard, download them, then print the test page.
#   e2e_tcp.sh PROGRAM SIMULATOR WRITE_TEST_PAGE
set -euo pipefail
APP=$1 SIM=$2 WRITE_TEST_PAGE=$3
source "$(dirname "$0")/e2e_lib.sh"

start_xvfb
start_sim 0
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
start_app

note "Download Settings with Print Speed Low and Zero Style Slashed"
choose_speed_and_zero
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX" "$STATUS_HEX"
expect_switches_stored

note "Test Print"
test_print
wait_job 2
job_then_status "$job_file" 992
page=$job_only
"$WRITE_TEST_PAGE" "$work/expected-page.bin"
cmp "$page" "$work/expected-page.bin" || fail "the printed page differs from the test page"
# Landmarks of the page, written out by hand: the reset, the first table row
# (its label and the codes 20h to F0h) and the closing feed.
head -c 2 "$page" >"$work/head.bin"
expect_bytes "$work/head.bin" 1b40
tail -c +127 "$page" | head -c 47 >"$work/row0.bin"
expect_bytes "$work/row0.bin" '1b 45 20 20 20 20 20 20 20 30 20 20 20 20 20 1b 46
    20 20 30 20 40 20 50 20 60 20 70 20 80 20 90 20 a0 20 b0 20 c0 20 d0 20 e0 20 f0 20 0d 0a'
tail -c 3 "$page" >"$work/tail.bin"
expect_bytes "$work/tail.bin" 1b6433
sim_has_line 'job 2: 1004 bytes, 0 switch command(s), 0 problem(s)' ||
    fail "the simulator found problems in the test page"

note "Close"
close_app
echo "PASS: download and test print over TCP/IP"
