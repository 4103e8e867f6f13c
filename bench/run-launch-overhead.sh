#!/usr/bin/env bash
# Measures the launcher's start-up overhead under Wine in a prefix of its own:
#   bench/run-launch-overhead.sh [win32|win64] [rounds]
# Needs the preset's build (cmake --build --preset win64 --target bench_launch_overhead).
set -euo pipefail
preset=${1:-win64}
rounds=${2:-21}
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
wine "$build/bench/bench_launch_overhead.exe" "$rounds" </dev/null
