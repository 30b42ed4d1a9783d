#!/usr/bin/env bash
# What a download does to the printed page: pick code page "858
# (Multilingual)" and Zero Style "Slashed" in the window, download them to the
# virtual printer, then print the test page; the simulator's picture of it
# must be the golden page for those switches, dot for dot.
#   e2e_picture.sh PROGRAM SIMULATOR WRITE_TEST_PAGE
set -euo pipefail
APP=$1 SIM=$2
source "$(dirname "$0")/e2e_lib.sh"
golden="$(cd "$(dirname "$0")/../data/sim" && pwd)/test-page-858-slashed.png"
command -v compare >/dev/null || { echo "SKIP: ImageMagick's compare is missing"; exit 77; }

start_xvfb
start_sim 0 --png "$work/receipt-%1.png"
store_connection Kind=Tcp Host=127.0.0.1 "Port=$sim_port"
start_app

note "Download Settings with code page 858 and Zero Style Slashed"
tab_characters
choose 2 5 # Character Code Page: "858 (Multilingual)"
choose 3 2 # Zero Style: "Slashed"
tab_printer
download
wait_job 1
sim_has_line 'Character Code Page: 858 (Multilingual) (switch 3 0000 -> 0400)' ||
    fail "no change line for the code page"
sim_has_line 'Zero Style: Slashed (switch 1 0000 -> 0010)' || fail "no change line for Zero Style"

note "Test Print"
test_print
wait_job 2
wait_until "the picture of job 2" sim_has_line "receipt $work/receipt-2.png ("
# The number of dots that differ; 0 when the pictures are the same.
differ=$(compare -metric AE "$work/receipt-2.png" "$golden" null: 2>&1) || true
[[ "$differ" == 0 ]] || fail "the printed page differs from $golden: $differ"

note "Close"
close_app
echo "PASS: the downloaded code page and zero style are on the printed page"
