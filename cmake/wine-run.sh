#!/usr/bin/env bash
# Runs one Windows program of the test bench in the bench's own prefix, under the loader of its build tree
# (wine64 for the x86_64 twin, the 32-bit wine for the i686 product).
#   wine-run.sh LOADER PROGRAM [ARGS...]
# Wine's background services inherit the first process's stdout; sending the program's output to files and replaying
# them afterwards keeps CTest from waiting on a pipe that a wine service still holds open.
set -u
: "${WINEPREFIX:?the bench sets WINEPREFIX}"
. "$(dirname "$0")/../tests/bench/wine-env.sh"
loader=$1
shift
out=$(mktemp) err=$(mktemp)
"$loader" "$@" </dev/null >"$out" 2>"$err"
rc=$?
cat "$out"; cat "$err" >&2
rm -f "$out" "$err"
exit $rc
