#!/usr/bin/env bash
# The output capture against writing straight to a file, under Wine in a prefix of
# its own: 100 MB of 100-byte lines, one WriteFile per line (as println) and 80 lines
# per WriteFile (as a buffered stream).
#   bench/run-output-capture.sh [win32|win64] [rounds] [megabytes]
# Needs the preset's build (cmake --build --preset win64 --target bench_output_capture).
set -euo pipefail
preset=${1:-win64}
rounds=${2:-3}
megabytes=${3:-100}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/$preset
export WINEPREFIX=$build/bench-wineprefix WINEDEBUG=-all DISPLAY=
if [ ! -d "$WINEPREFIX" ]; then
  "$root/tests/wine-prefix.sh" init "$WINEPREFIX"
fi
trap 'wineserver -k </dev/null >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
work=$(mktemp -d)
dir="Z:${work//\//\\}"
for ((i = 0; i < rounds; i++)); do
  for lines in 1 80; do
    for mode in direct pipe capture capture-rolling; do
      wine "$build/bench/bench_output_capture.exe" "$mode" "$dir" "$megabytes" "$lines" </dev/null >/dev/null
      rm -f "$work"/*
    done
  done
done
