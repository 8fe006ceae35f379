#!/usr/bin/env bash
# Runs one Windows program of the test bench under wine64, in the bench's own prefix.
# Wine's background services inherit the first process's stdout; sending the program's output to files and replaying
# them afterwards keeps CTest from waiting on a pipe that a wine service still holds open.
set -u
: "${WINEPREFIX:?the bench sets WINEPREFIX}"
for v in $(env | grep -io '^[a-z_]*proxy[a-z_]*=' | tr -d '='); do unset "$v"; done
export WINEDEBUG="${WINEDEBUG:--all}"
out=$(mktemp) err=$(mktemp)
/usr/lib/wine/wine64 "$@" </dev/null >"$out" 2>"$err"
rc=$?
cat "$out"; cat "$err" >&2
rm -f "$out" "$err"
exit $rc
