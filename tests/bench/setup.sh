#!/usr/bin/env bash
# Prepares the bench's own Wine prefix (created once, then reused by later runs of the same build tree) and keeps one
# wineserver alive for the run. Everything is started detached from our stdout: Wine's services inherit the first
# process's handles, and CTest would otherwise wait on that pipe until its timeout.
set -eu
: "${WINEPREFIX:?}"
here=$(cd "$(dirname "$0")" && pwd)
"$here/prefix.sh"
echo "bench prefix ready: $WINEPREFIX"
