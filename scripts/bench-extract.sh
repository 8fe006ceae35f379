#!/usr/bin/env bash
# Benchmark of the host's warm path (gates, payload name, reuse check of the existing copy, launch set-up) with a
# payload of 1,048,064 bytes, against the floor of that work: a bare FNV-1a loop over the same bytes, the local
# application data folder lookup and one read of the existing copy. One process, rounds alternating; prints the
# median and minimum milliseconds of each and their ratio. The aim is at most 1.2 times the floor.
#
# usage: scripts/bench-extract.sh [BUILD_TREE] [ROUNDS]
#   BUILD_TREE  a test build tree (default build/x64-test; build/x86-test runs the i686 build under the 32-bit
#               loader); extract_benchmark is built there first. The script uses that tree's bench prefix and stops
#               its wineserver at the end unless one was running before: do not run it while CTest runs in the same
#               tree.
set -eu -o pipefail
cd "$(dirname "$0")/.."
source tests/bench/wine-env.sh
tree=$(cd "${1:-build/x64-test}" && pwd)
rounds=${2:-200}
loader=$(sed -n 's/^HOST_WINE_LOADER:[A-Z]*=//p' "$tree/CMakeCache.txt")
loader=${loader:-$WINE64}
cmake --build "$tree" --target extract_benchmark bench_ready >/dev/null
export WINEPREFIX=$tree/wineprefix
stop_wineserver=true
wineserver_running && stop_wineserver=false   # a server already running (a test run's) stays
tests/bench/setup.sh "$loader" "$tree/bin/bench_ready.exe" >/dev/null
trap '$stop_wineserver && tests/bench/teardown.sh >/dev/null || true' EXIT
cmake/wine-run.sh "$loader" "$tree/bin/extract_benchmark.exe" "$rounds" | tr -d '\r'
