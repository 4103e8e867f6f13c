#!/usr/bin/env bash
# Runs the JVM search benchmark under Wine: bench/run-jvm-search.sh [win32|win64] [rounds].
# Uses the preset's test prefix (made by its ctest run) or makes one.
set -euo pipefail
preset=${1:-win64}
rounds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/$preset
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target jvm_search_bench >/dev/null
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all DISPLAY=
[ -d "$WINEPREFIX" ] || "$root/tests/wine-prefix.sh" init "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 || true
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true' EXIT
# Wine's background processes keep the streams of the first wine command: detach them.
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
cd "$build/bench"
wine ./jvm_search_bench.exe "$rounds"
