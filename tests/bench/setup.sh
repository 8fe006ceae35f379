#!/usr/bin/env bash
# Prepares the bench's own Wine prefix (created once, then reused by later runs of the same build tree), keeps one
# wineserver alive for the run, and proves that windows and message boxes work in it before any test runs.
#   setup.sh LOADER BENCH_READY_EXE
# Everything is started detached from our stdout: Wine's services inherit the first process's handles, and CTest
# would otherwise wait on that pipe until its timeout.
set -eu
: "${WINEPREFIX:?}"
loader=${1:?the Wine loader of this build tree}
ready_exe=${2:?the bench_ready program}
here=$(cd "$(dirname "$0")" && pwd)
"$here/prefix.sh"
# A new prefix finishes initialising in the background; poll until a box can be shown, read and answered.
deadline=$((SECONDS + 90))
attempts=0
while :; do
  attempts=$((attempts + 1))
  if out=$("$loader" "$ready_exe" </dev/null 2>&1 >/dev/null); then
    break
  fi
  if [ $SECONDS -ge $deadline ]; then
    echo "bench prefix $WINEPREFIX: windows and message boxes still fail after $attempts attempts:" >&2
    echo "$out" >&2
    exit 1
  fi
  sleep 0.2
done
echo "bench prefix ready: $WINEPREFIX (a message box shown, read and answered; attempt $attempts)"
