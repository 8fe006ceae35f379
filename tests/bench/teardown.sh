#!/usr/bin/env bash
# Stops the bench's wineserver so that nothing of the run lingers.
: "${WINEPREFIX:?}"
wineserver -k </dev/null >/dev/null 2>&1
wineserver -w </dev/null >/dev/null 2>&1
echo "bench wineserver stopped"
exit 0
