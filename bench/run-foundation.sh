#!/usr/bin/env bash
# Budgets of the foundation: stripped launcher sizes, the throughput of packaging
# and of extracting 64 MB of included files against a plain copy (cp on Linux,
# `cmd /c copy` under the same Wine), and packaging with version information and an
# icon against packaging without. Reports numbers; asserts nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x dist/zanto-pack ] || scripts/build.sh >/dev/null
work=build/bench-foundation
rm -rf "$work"; mkdir -p "$work"
echo "Launcher sizes (budget: 153,600 bytes each):"
for a in x86 x64; do printf '  %s: %d bytes\n' "$a" "$(stat -c %s dist/zanto-launcher-$a.exe)"; done

head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/payload.bin"
cat >"$work/big.toml" <<TOML
[package]
runtime = false
[settings]
ApplicationName = "bench"
ExecutableType = 4
[[include]]
source = "payload.bin"
TOML
seconds() { local s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
best() { local b=999; for _ in 1 2 3; do t=$(seconds "$@"); b=$(echo "if ($t < $b) $t else $b" | bc); done; echo "$b"; }
sync
cp_t=$(best cp "$work/payload.bin" "$work/copy.bin")
pack_t=$(best dist/zanto-pack build "$work/big.toml" -o "$work/big.exe")
printf 'Packaging 64 MB: zanto-pack %.3f s, cp %.3f s, throughput ratio %.2f (budget >= 0.5)\n' \
  "$pack_t" "$cp_t" "$(echo "$cp_t / $pack_t" | bc -l)"
# cp (like cat) copies inside the kernel (copy_file_range); the packager must read,
# mask and write every byte, as dd reads and writes them: a second reference.
dd_t=$(best dd if="$work/payload.bin" of="$work/dd.bin" bs=64K status=none)
printf '  against dd bs=64K (through user space): %.3f s, ratio %.2f\n' "$dd_t" "$(echo "$dd_t / $pack_t" | bc -l)"

# Version information and an icon: the launcher's resources are rewritten into a new
# last section and the PE checksum is summed over everything written.
{ printf '\0\0\1\0\1\0\40\40\0\0\1\0\40\0\250\20\0\0\26\0\0\0'  # one 32x32 image, 4264 bytes
  printf '\50\0\0\0\40\0\0\0\100\0\0\0\1\0\40\0'                  # its bitmap header
  head -c $((24 + 4096 + 128)) /dev/zero; } >"$work/app.ico"
sed -e 's/^runtime = false$/runtime = false\nicon = "app.ico"/' "$work/big.toml" >"$work/identity.toml"
printf '[version]\nversion = "1.4.2"\nproduct = "Bench"\ncompany = "Bench Ltd."\n' >>"$work/identity.toml"
plain_t=$(best dist/zanto-pack build "$work/big.toml" -o "$work/big.exe")
ident_t=$(best dist/zanto-pack build "$work/identity.toml" -o "$work/identity.exe")
printf 'Packaging 64 MB with version information and an icon: %.3f s, without %.3f s, ratio %.2f (budget <= 1.1); the executable grows by %d bytes\n' \
  "$ident_t" "$plain_t" "$(echo "$ident_t / $plain_t" | bc -l)" \
  $(( $(stat -c %s "$work/identity.exe") - $(stat -c %s "$work/big.exe") ))

prefix=$PWD/$work/wineprefix
tests/wine-prefix.sh init "$prefix"
trap 'tests/wine-prefix.sh stop "$prefix"' EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY=
temp=$prefix/drive_c/users/$(whoami)/Temp
wine cmd /c echo warm >/dev/null 2>&1
# "/run" extracts and then ends, finding no Java. Started without a command word the
# launcher would wait for Wine's service control manager (about 10 s) instead.
ext_t=$(best bash -c "rm -rf '$temp'/zto*; wine '$work/big.exe' /run </dev/null")
win_src=$(winepath -w "$work/payload.bin" 2>/dev/null)
copy_t=$(best wine cmd /c copy /y "$win_src" 'c:\users\'"$(whoami)"'\Temp\copy.bin')
printf 'Extracting 64 MB under Wine: launcher %.3f s (whole process), cmd copy %.3f s, ratio %.2f (budget >= 0.5)\n' \
  "$ext_t" "$copy_t" "$(echo "$copy_t / $ext_t" | bc -l)"
