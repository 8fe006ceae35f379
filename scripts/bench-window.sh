#!/usr/bin/env bash
# Responsiveness of the installer window during a real loopback download of the 121,346,568-byte package (the size
# of the largest catalogue package): a probe thread sends WM_NULL to the window every 10 ms and times each answer.
# Prints the download's time, the number of probes, the longest, 99th-percentile and median waits and how many
# waits exceeded 50 ms (the aim: none).
#
# usage: scripts/bench-window.sh [BUILD_TREE]
#   BUILD_TREE  an x64-test or x86-test build tree (default build/x64-test); installer_window_benchmark is built
#               there first and runs under that tree's Wine loader. The script uses that tree's bench prefix and
#               stops its wineserver at the end unless one was running before: do not run it while CTest runs in
#               the same tree.
#   BENCH_SIZE  the package's size in bytes (default 121346568); a small one makes a quick run.
set -eu -o pipefail
cd "$(dirname "$0")/.."
tree=$(cd "${1:-build/x64-test}" && pwd)
benchmark=installer_window_benchmark server_dir=$tree/window-benchmark
. tests/bench/benchmark-setup.sh
port=$(sed -n 's/^http_port=//p' "$info")
read -r size sha <<<"$(sed -n 's/^fixture=big.exe //p' "$info")"
echo "window responsiveness: $size bytes over http loopback"
result=$(cmake/wine-run.sh "$loader" "$tree/bin/installer_window_benchmark.exe" "http://127.0.0.1:$port/ok/big.exe" \
  "$size" "$sha" 'C:\users\Public\velvaro-window-benchmark\' | tr -d '\r')
echo "$result"
# Waits measured around a download that failed say nothing about the window during one.
grep -qx 'outcome=downloaded' <<<"$result" || { echo "the download did not complete: no measurement" >&2; exit 1; }
