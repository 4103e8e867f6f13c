#!/usr/bin/env bash
# Builds everything and puts the products in dist/: both launchers, the packager
# (Linux and Windows) and the Java-side runtime jar.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=${ZANTO_JOBS:-2}
for preset in native-release win32 win64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done
rm -rf dist
for preset in native-release win32 win64; do
  cmake --install "build/$preset" --prefix dist >/dev/null
done
echo "Products in dist/:"
ls -l dist
