#!/usr/bin/env bash
# The main job: builds everything into dist/, packages the example service, shows
# what the packaged executable carries, and runs it under Wine with its log on.
# Under Wine there is no Windows Java runtime: where a Java runtime is needed, the
# project's stand-in runtime takes its place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

say "Building launchers (x86, x64), packager and Java runtime into dist/"
scripts/build.sh

work=$root/build/demo
rm -rf "$work"
mkdir -p "$work"
cp -r dist/examples/hello "$work/hello"

say "Packaging the example service (examples/hello/hello.toml) into hello-service.exe"
dist/zanto-pack build "$work/hello/hello.toml" -o "$work/hello-service.exe"
ls -l "$work/hello-service.exe"

say "What the packaged executable carries (zanto-pack inspect)"
dist/zanto-pack inspect "$work/hello-service.exe"

say "Starting a wine prefix for the demo"
prefix=$work/wineprefix
tests/wine-prefix.sh init "$prefix"
trap 'tests/wine-prefix.sh stop "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=
temp_dir=$prefix/drive_c/users/$(whoami)/Temp

say "Running hello-service.exe under Wine with ZANTO_LOG=yes"
echo "(Started by hand, not by the service control manager, it prepares itself, extracts"
echo " its included files and ends with exit code 0.)"
set +e
ZANTO_LOG=yes wine "$work/hello-service.exe" </dev/null
echo "exit code: $?"
set -e

say "The launcher's log"
log=$(ls -t "$temp_dir"/vmr* 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then echo "$log:"; tr -d '\r' <"$log"; else echo "no log found in $temp_dir"; fi

say "The extracted files"
for dir in "$temp_dir"/zto*_dir*; do
  [ -d "$dir" ] && { echo "$dir:"; ls -l "$dir"; }
done
