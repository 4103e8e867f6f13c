#!/usr/bin/env bash
# Restarts the wine server of the test prefix with one service control manager.
# Right after `wineboot -i` two services.exe answer the control pipe, each with
# its own service list, so a service created through one is unknown to the other.
set -euo pipefail
prefix=${1:?usage: restart-wine-server.sh PREFIX}
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
# Background processes keep the streams of whoever started them: detach all three.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
