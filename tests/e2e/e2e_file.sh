#!/usr/bin/env bash
# The file connection: the download lands in the stored file, byte for byte.
#   e2e_file.sh PROGRAM
set -euo pipefail
APP=$1
source "$(dirname "$0")/e2e_lib.sh"

start_xvfb
job="$work/out/job.prn"
mkdir -p "$work/out"
store_connection Kind=File "Path=$job"
start_app

note "Download Settings to $job"
choose_speed_and_zero
download
has_size() { [[ -f "$1" && $(stat -c %s "$1") -eq $2 ]]; }
wait_until "44 bytes in $job" has_size "$job" 44
expect_bytes "$job" "$BATCH_HEX"

note "Close"
close_app
# Nothing but the job was written next to it.
[[ "$(ls -A "$work/out")" == job.prn ]] || fail "the folder holds: $(ls -A "$work/out")"
echo "PASS: download to a file"
