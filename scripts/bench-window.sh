#!/usr/bin/env bash
# Responsiveness of the installer window during a real loopback download of the 121,346,568-byte package (the size
# of the largest catalogue package): a probe thread sends WM_NULL to the window every 10 ms and times each answer.
# Prints the download's time, the number of probes, the longest, 99th-percentile and median waits and how many
# waits exceeded 50 ms (the aim: none).
#
# usage: scripts/bench-window.sh [BUILD_TREE]
#   BUILD_TREE  an x64-test build tree (default build/x64-test); installer_window_benchmark is built there first. The
#               script uses that tree's bench prefix and stops its wineserver at the end: do not run it while CTest
#               runs in the same tree.
set -eu
cd "$(dirname "$0")/.."
tree=$(cd "${1:-build/x64-test}" && pwd)
for v in $(env | grep -io '^[a-z_]*proxy[a-z_]*=' | tr -d '='); do unset "$v"; done

cmake --build "$tree" --target installer_window_benchmark >/dev/null
export WINEPREFIX=$tree/wineprefix
server_dir=$tree/download-benchmark
tests/bench/setup.sh >/dev/null
stop() {
  tests/bench/download_server.sh stop "$server_dir" >/dev/null || true
  tests/bench/teardown.sh >/dev/null || true
}
trap stop EXIT
tests/bench/download_server.sh start "$server_dir" --big >/dev/null

info=$server_dir/server.txt
port=$(sed -n 's/^http_port=//p' "$info")
read -r size sha <<<"$(sed -n 's/^fixture=big.exe //p' "$info")"
echo "window responsiveness: $size bytes over http loopback"
cmake/wine-run.sh "$tree/bin/installer_window_benchmark.exe" "http://127.0.0.1:$port/ok/big.exe" "$size" "$sha" \
  'C:\users\Public\velvaro-window-benchmark\' | tr -d '\r'
