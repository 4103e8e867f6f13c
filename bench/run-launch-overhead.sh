#!/usr/bin/env bash
# Measures the launcher's start-up overhead under Wine in a prefix of its own:
#   bench/run-launch-overhead.sh [win32|win64] [rounds]
# Needs the preset's build (cmake --build --preset win64 --target bench_launch_overhead).
# ZANTO_BENCH_OUTPUT_LOG=1 packages the launcher with an output log (its folder checks).
exec "$(dirname "$0")/run-service-bench.sh" bench_launch_overhead "${1:-win64}" "${2:-21}"
