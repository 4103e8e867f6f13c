#!/usr/bin/env bash
# Runs a service benchmark program of a preset's build under Wine, in a prefix of
# its own with one control manager:
#   bench/run-service-bench.sh PROGRAM [win32|win64] [rounds]
set -euo pipefail
program=$1
preset=${2:-win64}
rounds=${3:-11}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/$preset
export WINEPREFIX=$build/bench-wineprefix WINEDEBUG=-all DISPLAY=
if [ ! -d "$WINEPREFIX" ]; then
  "$root/tests/wine-prefix.sh" init "$WINEPREFIX"
fi
# One control manager (see tests/service/restart-wine-server.sh), without the tests'
# trace of message boxes, which costs every process a line per DLL.
ZANTO_TRACE_BOXES=0 "$root/tests/service/restart-wine-server.sh" "$WINEPREFIX"
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
# The stand-ins are found through this variable (Wine's Z: drive is the Linux root).
export ZANTO_STANDIN_DIR="Z:${build//\//\\}\\standins"
wine "$build/bench/$program.exe" "$rounds" </dev/null
