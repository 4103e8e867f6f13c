#!/usr/bin/env bash
# Measures the stop latency of a service under Wine in a prefix of its own:
#   bench/run-stop-latency.sh [win32|win64] [rounds]
# Needs the preset's build (cmake --build --preset win64 --target bench_stop_latency).
set -euo pipefail
preset=${1:-win64}
rounds=${2:-11}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/$preset
export WINEPREFIX=$build/bench-wineprefix WINEDEBUG=-all DISPLAY=
if [ ! -d "$WINEPREFIX" ]; then
  "$root/tests/wine-prefix.sh" init "$WINEPREFIX"
fi
# One control manager (see tests/service/restart-wine-server.sh).
"$root/tests/service/restart-wine-server.sh" "$WINEPREFIX"
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
# The stand-ins are found through this variable (Wine's Z: drive is the Linux root).
export ZANTO_STANDIN_DIR="Z:${build//\//\\}\\standins"
wine "$build/bench/bench_stop_latency.exe" "$rounds" </dev/null
