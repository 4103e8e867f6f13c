#!/usr/bin/env bash
# Runs every test: native unit tests (ASan + UBSan), the Windows test programs
# under Wine for i686 and x86_64 (each build in a fresh wine prefix); the native
# tests include bounded fuzz runs and the real-JVM tests. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh || exit 1
jobs=${ZANTO_JOBS:-2}
failed=0
run() {
  echo "== $*"
  "$@" || { echo "FAILED: $*"; failed=1; }
}
for preset in native win32 win64; do
  run cmake --preset "$preset"
  run cmake --build --preset "$preset" -j "$jobs"
  # Under Wine a test program has, rarely and not reproducibly, failed in ways that
  # point at Wine (a silent end; a fresh copy started as an earlier image): a Windows
  # test program that fails is run once more, and the log keeps the first failure.
  # Native tests get no second try.
  retry=()
  [ "$preset" = native ] || retry=(--repeat until-pass:2)
  run ctest --preset "$preset" -j 1 "${retry[@]}"
done
if [ "$failed" -ne 0 ]; then
  echo "Some tests FAILED"
  exit 1
fi
echo "All tests passed"
