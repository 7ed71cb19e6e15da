#!/bin/sh
# Runs a libFuzzer target over a working corpus seeded from the project's own inputs:
#   run_fuzz.sh FUZZER WORK_DIR SEED_DIR [libFuzzer options...]
# New inputs collect in WORK_DIR, crashing inputs are kept in WORK_DIR/artifacts.
set -eu
fuzzer=$1 work=$2 seeds=$3
shift 3
mkdir -p "$work/corpus" "$work/artifacts"
exec "$fuzzer" -artifact_prefix="$work/artifacts/" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "$@" "$work/corpus" "$seeds"
