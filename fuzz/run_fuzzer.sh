#!/bin/sh
# run_fuzzer.sh <fuzzer> <seconds> <work prefix> <seed dir> [libFuzzer options...]
# Runs one libFuzzer target for a fixed time over the corpus it has gathered so far and the
# seeds; fails on a crash, a leak, or an input that takes over 10 s. QUENRIK_FUZZ_SECONDS in the
# environment overrides the length.
set -e
fuzzer=$1
seconds=${QUENRIK_FUZZ_SECONDS:-$2}
work=$3
seeds=$4
shift 4
mkdir -p "$work-corpus"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work-crash-" "$@" "$work-corpus" "$seeds"
