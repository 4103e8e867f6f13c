#!/usr/bin/env bash
# Restarts the wine server of the test prefix with one service control manager.
# Right after `wineboot -i` two services.exe answer the control pipe, each with
# its own service list, so a service created through one is unknown to the other.
set -euo pipefail
prefix=${1:?usage: restart-wine-server.sh PREFIX}
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w </dev/null >/dev/null 2>&1 || true
# Background processes keep the streams of whoever started them: detach them, but
# keep the control manager's standard error (which its services share) in
# services.stderr, where tests read Wine's trace of their event-log reports (errors
# and warnings) and message boxes.
# Nor may they keep any other descriptor of the caller (a test runner's output
# pipe, which it waits on until every holder has closed it).
for fd in /proc/$$/fd/*; do
  n=${fd##*/}
  if [ "$n" -gt 2 ] 2>/dev/null; then eval "exec $n>&-" 2>/dev/null || true; fi
done
wineserver -p </dev/null >/dev/null 2>&1
# +relay traces only what the prefix's RelayInclude names (message boxes), so that a
# box a service shows is seen there too; benchmarks set ZANTO_TRACE_BOXES=0, as the
# trace also writes a line at every DLL's entry point.
debug=-all,err+eventlog,warn+eventlog
[ "${ZANTO_TRACE_BOXES:-1}" = 0 ] || debug=$debug,+relay
WINEDEBUG=$debug wine cmd /c exit </dev/null >/dev/null 2>"$prefix/services.stderr"
