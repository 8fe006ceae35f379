#!/usr/bin/env bash
# Stops the bench's wineserver so that nothing of the run lingers.
set -eu
: "${WINEPREFIX:?}"
. "$(dirname "$0")/wine-env.sh"
"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true   # no server running is fine: nothing lingers
"$WINESERVER" -w </dev/null >/dev/null 2>&1
echo "bench wineserver stopped"
