#!/usr/bin/env bash
# The same download through a private CUPS scheduler: a raw queue whose
# device is the virtual printer.
#   e2e_spooler.sh PROGRAM SIMULATOR
set -euo pipefail
APP=$1 SIM=$2
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: the scheduler runs its backend as user lp, which needs root"
    exit 77
fi
source "$(dirname "$0")/e2e_lib.sh"

start_xvfb
start_cupsd
start_sim 0
add_raw_queue krve2e "socket://127.0.0.1:$sim_port"
export CUPS_SERVER=$cups_server
store_connection Kind=Spooler Queue=krve2e
start_app

note "Download Settings through queue krve2e on $cups_server"
choose_speed_and_zero
download
wait_job 1
expect_bytes "$job_file" "$BATCH_HEX"
expect_switches_stored
# It went through the queue: the scheduler lists it as a completed job.
queue_job_done() { lpstat -h "$cups_server" -W completed -o krve2e 2>/dev/null | grep -q '^krve2e-'; }
wait_until "the scheduler to list the job as completed" queue_job_done

note "Close"
close_app
echo "PASS: download through a raw CUPS queue"
