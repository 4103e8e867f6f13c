#!/usr/bin/env bash
# Measures the stop latency of a service under Wine in a prefix of its own:
#   bench/run-stop-latency.sh [win32|win64] [rounds]
# Needs the preset's build (cmake --build --preset win64 --target bench_stop_latency).
exec "$(dirname "$0")/run-service-bench.sh" bench_stop_latency "${1:-win64}" "${2:-11}"
