#!/usr/bin/env bash
# The cost of an MSI package: `zanto-pack msi` for a service carrying 64 MB of
# included files against `zanto-pack build` of the same configuration (best of three
# runs each; wixl compresses the executable into the package's cabinet). Reports
# numbers; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x dist/zanto-pack ] || scripts/build.sh >/dev/null
work=build/bench-msi
rm -rf "$work"; mkdir -p "$work"
head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/payload.bin"
cat >"$work/big.toml" <<TOML
[package]
runtime = false
[service]
name = "bench"
start = "auto"
[[include]]
source = "payload.bin"
[version]
version = "1.0.0"
company = "Bench Ltd"
[msi]
upgrade_code = "9a1c5e27-3b4d-4f60-8e72-1d0c6b5a4f38"
TOML
seconds() { local s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
best() { local b=999; for _ in 1 2 3; do t=$(seconds "$@"); b=$(echo "if ($t < $b) $t else $b" | bc); done; echo "$b"; }
sync
build_t=$(best dist/zanto-pack build "$work/big.toml" -o "$work/big.exe")
msi_t=$(best dist/zanto-pack msi "$work/big.toml" -o "$work/big.msi")
printf 'A 64 MB service: build %.3f s, msi %.3f s (ratio %.1f); executable %d MB, package %d MB\n' \
  "$build_t" "$msi_t" "$(echo "$msi_t / $build_t" | bc -l)" \
  $(( $(stat -c %s "$work/big.exe") / 1048576 )) $(( $(stat -c %s "$work/big.msi") / 1048576 ))
