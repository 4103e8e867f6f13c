#!/usr/bin/env bash
# Runs a Windows test program under Wine, in the prefix of this test run.
# CTest uses it as the cross-compiling emulator. ZANTO_WINEPREFIX names the prefix
# (tests/wine-prefix.sh makes it); the wine server stays up between programs so
# that services and the registry outlive single processes.
set -euo pipefail
: "${ZANTO_WINEPREFIX:?ZANTO_WINEPREFIX must name the wine prefix of this test run}"
export WINEPREFIX="$ZANTO_WINEPREFIX" WINEDEBUG="${WINEDEBUG:--all}" DISPLAY=
exec wine "$@"
