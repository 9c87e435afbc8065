#!/usr/bin/env bash
# Runs a Windows program under Wine for CMake and CTest, as their emulator.
#
# - The Wine server is started here, persistent and with its standard streams
#   detached: a server started by the program itself would inherit CTest's
#   pipes and keep them open after the program ends, and CTest would wait.
# - The crash dialog's debugger is turned off: with it, a crashing program
#   sometimes exits 0.
# - Windows programs end lines with CR LF; the CRs are dropped so that test
#   listings and output read as on Linux. The program's exit status is kept.
set -uo pipefail

export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/lenstrove-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-winedbg.exe=d}"

wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
[ -x "$wine" ] || wine=$(command -v wine)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver64)

# One caller at a time sets the prefix up; the lock's descriptor is closed
# for the server, which outlives this script and would hold the lock.
mkdir -p "$WINEPREFIX"
(
  flock 9
  "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
  [ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
) 9>"$WINEPREFIX.lock"

"$wine" "$@" | tr -d '\r'
