#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time. New inputs go to a scratch
# corpus folder, never into the seed folder kept in the repository.
#   run-fuzzer.sh BINARY SECONDS SCRATCH_DIR [SEED_DIR]
set -euo pipefail
binary=$1 seconds=$2 scratch=$3
shift 3
mkdir -p "$scratch"
exec "$binary" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
     -print_final_stats=1 "$scratch" "$@"
