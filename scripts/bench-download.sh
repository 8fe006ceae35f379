#!/usr/bin/env bash
# Benchmark of the download engine over loopback, in one run:
#   - starts the bench server with its 121,346,568-byte package (the size of the largest catalogue package),
#   - downloads it ROUNDS times (default 3) with DownloadPackage and with a bare WinHTTP read loop of the same URL,
#     alternating, each download in a process of its own; and with the bare loop writing each chunk to a file, which
#     shows how much of the difference is the disk,
#   - downloads a small package with DownloadPackage, to compare the peak memory,
#   - prints every round, the median throughputs, their ratio and the peak memory of the engine's process.
# The engine's time covers the whole call: transfer into the .part file, the SHA-256 verification and the move; its
# transfer time alone (until the last byte was counted) is shown as well. The bare loop only reads.
# The ratio the engine aims at is 0.9 of the bare loop, and its memory is to stay flat in the package size.
#
# usage: scripts/bench-download.sh [BUILD_TREE] [ROUNDS]
#   BUILD_TREE  an x64-test build tree (default build/x64-test); download_benchmark is built there first. The script
#               uses that tree's bench prefix and stops its wineserver at the end: do not run it while CTest runs
#               in the same tree.
#   URL scheme: BENCH_SCHEME=http (default) or https.
set -eu
cd "$(dirname "$0")/.."
tree=$(cd "${1:-build/x64-test}" && pwd)
rounds=${2:-3}
scheme=${BENCH_SCHEME:-http}
. tests/bench/wine-env.sh
loader=$(sed -n 's/^HOST_WINE_LOADER:[A-Z]*=//p' "$tree/CMakeCache.txt")
loader=${loader:-$WINE64}

cmake --build "$tree" --target download_benchmark bench_ready >/dev/null
export WINEPREFIX=$tree/wineprefix
server_dir=$tree/download-benchmark
tests/bench/setup.sh "$loader" "$tree/bin/bench_ready.exe" >/dev/null
stop() {
  tests/bench/download_server.sh stop "$server_dir" >/dev/null || true
  tests/bench/teardown.sh >/dev/null || true
}
trap stop EXIT
tests/bench/download_server.sh start "$server_dir" --big >/dev/null

info=$server_dir/server.txt
port_of() { sed -n "s/^$1=//p" "$info"; }
fixture_of() { sed -n "s/^fixture=$1 //p" "$info"; }
if [ "$scheme" = https ]; then base="https://localhost:$(port_of https_port)"; else base="http://127.0.0.1:$(port_of http_port)"; fi
read -r big_size big_sha <<<"$(fixture_of big.exe)"
read -r small_size small_sha <<<"$(fixture_of setup.exe)"
exe=$tree/bin/download_benchmark.exe
package='C:\users\Public\velvaro-benchmark.exe'
wine_run() { cmake/wine-run.sh "$loader" "$exe" "$@" | tr -d '\r'; }
value() { sed -n "s/^$1=//p" <<<"$2"; }

echo "download benchmark: $big_size bytes over $scheme loopback, $rounds rounds"
engine_rates=() bare_rates=() engine_transfer=() write_rates=()
engine_peak=0 engine_private=0 engine_ws=0
for round in $(seq "$rounds"); do
  bare=$(wine_run bare "$base/ok/big.exe")
  engine=$(wine_run engine "$base/ok/big.exe" "$big_size" "$big_sha" "$package")
  written=$(wine_run bare "$base/ok/big.exe" "$package")
  if [ -z "$(value mib_per_s "$engine")" ] || [ -z "$(value mib_per_s "$bare")" ] ||
     [ -z "$(value mib_per_s "$written")" ]; then
    echo "round $round failed:"; echo "$bare"; echo "$engine"; echo "$written"; exit 1
  fi
  write_rates+=("$(value mib_per_s "$written")")
  bare_rates+=("$(value mib_per_s "$bare")")
  engine_rates+=("$(value mib_per_s "$engine")")
  engine_transfer+=("$(value transfer_mib_per_s "$engine")")
  peak=$(value peak_pagefile_usage "$engine"); [ "$peak" -gt "$engine_peak" ] && engine_peak=$peak
  private=$(value private_usage "$engine"); [ "$private" -gt "$engine_private" ] && engine_private=$private
  ws=$(value peak_working_set "$engine"); [ "$ws" -gt "$engine_ws" ] && engine_ws=$ws
  printf 'round %d: bare %s MiB/s in %ss; engine %s MiB/s in %ss (transfer %s MiB/s in %ss); bare+write %s MiB/s\n' \
    "$round" "$(value mib_per_s "$bare")" "$(value seconds "$bare")" "$(value mib_per_s "$engine")" \
    "$(value seconds "$engine")" "$(value transfer_mib_per_s "$engine")" "$(value transfer_seconds "$engine")" \
    "$(value mib_per_s "$written")"
done
small=$(wine_run engine "$base/ok/setup.exe" "$small_size" "$small_sha" "$package")

/usr/bin/python3 - "${bare_rates[*]}" "${engine_rates[*]}" "${engine_transfer[*]}" "${write_rates[*]}" \
  "$engine_peak" "$engine_private" \
  "$engine_ws" "$(value peak_pagefile_usage "$small")" "$(value private_usage "$small")" \
  "$(value peak_working_set "$small")" "$small_size" <<'EOF'
import statistics, sys
bare, engine, transfer, written = ([float(x) for x in a.split()] for a in sys.argv[1:5])
peak, private, ws, small_peak, small_private, small_ws, small_size = (int(x) for x in sys.argv[5:12])
b, e, t, w = (statistics.median(x) for x in (bare, engine, transfer, written))
mib = lambda n: n / 1048576
print(f"median bare loop:          {b:7.1f} MiB/s")
print(f"median engine, whole call: {e:7.1f} MiB/s  ratio {e / b:.2f}")
print(f"median engine, transfer:   {t:7.1f} MiB/s  ratio {t / b:.2f}")
print(f"median bare loop + write:  {w:7.1f} MiB/s  ratio {w / b:.2f}")
print(f"engine process, big package:   peak pagefile usage {mib(peak):6.1f} MiB, private usage {mib(private):6.1f} MiB,"
      f" peak working set {mib(ws):6.1f} MiB")
print(f"engine process, {small_size}-byte package: peak pagefile usage {mib(small_peak):6.1f} MiB,"
      f" private usage {mib(small_private):6.1f} MiB, peak working set {mib(small_ws):6.1f} MiB")
EOF
