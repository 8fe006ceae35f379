#!/usr/bin/env bash
# Prepares the bench's own Wine prefix (created once, then reused by later runs of the same build tree) and keeps one
# wineserver alive for the run. Everything is started detached from our stdout: Wine's services inherit the first
# process's handles, and CTest would otherwise wait on that pipe until its timeout.
set -eu
: "${WINEPREFIX:?}"
for v in $(env | grep -io '^[a-z_]*proxy[a-z_]*=' | tr -d '='); do unset "$v"; done
export WINEDEBUG=-all
wine=/usr/lib/wine/wine64
mkdir -p "$WINEPREFIX"
# An already running server (left by an earlier run of this tree) is fine.
wineserver -p </dev/null >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/system.reg" ] || [ ! -d "$WINEPREFIX/drive_c/users" ]; then
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
fi
# No display here: the null driver still gives real windows, timers and message boxes.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
echo "bench prefix ready: $WINEPREFIX"
