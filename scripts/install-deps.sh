#!/usr/bin/env bash
# Installs what zanto needs to build and test on Debian 12, when it is missing.
set -euo pipefail
packages=(cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386
  openjdk-17-jdk-headless junit4 libtomlplusplus-dev libcli11-dev libzip-dev pkg-config googletest
  osslsigncode openssl wixl msitools libexpat1-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then $sudo dpkg --add-architecture i386; fi
# A mirror caught mid-sync fails one index now and then ("File has unexpected size");
# the install below still succeeds from the lists that did arrive, and fails loudly if not.
for try in 1 2 3; do
  $sudo apt-get update -qq && break
  echo "apt-get update failed (try $try); retrying" >&2
  sleep 5
done
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
