#!/usr/bin/env bash
# Makes a fresh wine prefix for a test run (init) or stops its wine server (stop).
# Only the server of this prefix is touched.
set -euo pipefail
cmd=${1:?usage: wine-prefix.sh init|stop PREFIX}
prefix=${2:?usage: wine-prefix.sh init|stop PREFIX}
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
case "$cmd" in
  init)
    if [ -d "$prefix" ]; then
      wineserver -k </dev/null >/dev/null 2>&1 || true
      # A test that was killed may have left c: immutable (see the log fall-back test).
      chattr -i "$prefix/drive_c" 2>/dev/null || true
      rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    # Background processes keep the streams of whoever started them: detach all three.
    wineserver -p </dev/null >/dev/null 2>&1
    wineboot -i </dev/null >/dev/null 2>&1
    # With WINEDEBUG=+relay, trace only message boxes: tests read their texts.
    wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d user32.MessageBoxA /f \
      </dev/null >/dev/null 2>&1
    # wineboot leaves two service control managers; restart so that one answers.
    "$(dirname "$0")/service/restart-wine-server.sh" "$prefix"
    # A program started by hand that enters the service dispatcher opens the control
    # pipe named by ServiceCurrent; while that service runs the pipe is busy and Wine
    # waits 10 s before the dispatcher gives up (Windows fails at once). Point it at
    # no pipe: the control manager sets it again when it starts the next service.
    wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\ServiceCurrent' /ve /t REG_DWORD \
      /d 4000000000 /f </dev/null >/dev/null 2>&1
    ;;
  stop)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
