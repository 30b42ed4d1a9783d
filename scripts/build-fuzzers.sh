#!/usr/bin/env bash
# Builds the libFuzzer targets (and only those) in a clang tree beside the
# ordinary build.
set -euo pipefail
source_dir=$1 build_dir=$2 clangxx=$3
cmake -S "$source_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER="$clangxx" -DKRV_FUZZ=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=$(tr ';' ' ' <"$build_dir/fuzz-targets.txt")
if [[ -z "$targets" ]]; then
    exit 0
fi
# shellcheck disable=SC2086
cmake --build "$build_dir" -j "$(nproc)" --target $targets
