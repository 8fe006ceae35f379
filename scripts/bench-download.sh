#!/usr/bin/env bash
# Benchmark of the download engine over loopback, in one run:
#   - starts the bench server with its 121,346,568-byte package (the size of the largest catalogue package),
#   - downloads it ROUNDS times (default 3), each download in a process of its own, alternating: with a bare WinHTTP
#     read loop of the same URL; with DownloadPackage; and with the bare loop writing each chunk to a file (one
#     WriteFile per chunk, as the engine writes) followed by one raw CryptoAPI SHA-256 pass over that file,
#   - downloads a small package with DownloadPackage, to compare the peak memory,
#   - prints every round, the medians and the two ratios the engine is held to:
#       transfer:   the engine's transfer (until the last byte was counted) against the bare loop that also writes
#                   each chunk, as a throughput ratio; aim: at least 0.9;
#       whole call: the engine's whole call (transfer into the .part file, verification, move) against the bare
#                   loop with writes plus the raw SHA-256 pass, as a time ratio; aim: at most 1.1;
#     and the peak memory of the engine's process for both packages, which is to stay flat in the package size.
# The engine writes every chunk and verifies the finished file in a pass of its own, so a loop that only reads is
# no fair measure of it; the read-only loop is shown for what WinHTTP alone costs.
#
# usage: scripts/bench-download.sh [BUILD_TREE] [ROUNDS]
#   BUILD_TREE  an x64-test or x86-test build tree (default build/x64-test); download_benchmark is built there first
#               and runs under that tree's Wine loader, in that tree's bench prefix, whose wineserver it stops at the
#               end unless one was running before: do not run it while CTest runs in the same tree.
#   ROUNDS      how many rounds (default 3).
#   BENCH_SCHEME  http (default) or https; BENCH_SIZE  the big package's size in bytes (default 121346568). A small
#               size and one round make a quick run.
set -eu -o pipefail
cd "$(dirname "$0")/.."
tree=$(cd "${1:-build/x64-test}" && pwd)
rounds=${2:-3}
scheme=${BENCH_SCHEME:-http}
benchmark=download_benchmark server_dir=$tree/download-benchmark
. tests/bench/benchmark-setup.sh
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
bare_rates=() write_rates=() write_seconds=() hash_seconds=() engine_seconds=() engine_transfer=()
engine_peak=0 engine_private=0 engine_ws=0
for round in $(seq "$rounds"); do
  bare=$(wine_run bare "$base/ok/big.exe")
  engine=$(wine_run engine "$base/ok/big.exe" "$big_size" "$big_sha" "$package")
  written=$(wine_run bare "$base/ok/big.exe" "$package")
  if [ -z "$(value mib_per_s "$engine")" ] || [ -z "$(value mib_per_s "$bare")" ] ||
     [ -z "$(value mib_per_s "$written")" ] || [ "$(value sha256 "$written")" != "$big_sha" ]; then
    echo "round $round failed:"; echo "$bare"; echo "$engine"; echo "$written"; exit 1
  fi
  bare_rates+=("$(value transfer_mib_per_s "$bare")")
  write_rates+=("$(value transfer_mib_per_s "$written")")
  write_seconds+=("$(value seconds "$written")")
  hash_seconds+=("$(value hash_seconds "$written")")
  engine_seconds+=("$(value seconds "$engine")")
  engine_transfer+=("$(value transfer_mib_per_s "$engine")")
  peak=$(value peak_pagefile_usage "$engine"); [ "$peak" -gt "$engine_peak" ] && engine_peak=$peak
  private=$(value private_usage "$engine"); [ "$private" -gt "$engine_private" ] && engine_private=$private
  ws=$(value peak_working_set "$engine"); [ "$ws" -gt "$engine_ws" ] && engine_ws=$ws
  printf 'round %d: bare %s MiB/s; engine %s s (transfer %s MiB/s in %s s); bare+write %s MiB/s (%s s with its closes), SHA-256 pass %s s\n' \
    "$round" "$(value transfer_mib_per_s "$bare")" "$(value seconds "$engine")" "$(value transfer_mib_per_s "$engine")" \
    "$(value transfer_seconds "$engine")" "$(value transfer_mib_per_s "$written")" "$(value seconds "$written")" \
    "$(value hash_seconds "$written")"
done
small=$(wine_run engine "$base/ok/setup.exe" "$small_size" "$small_sha" "$package")

/usr/bin/python3 - "${bare_rates[*]}" "${write_rates[*]}" "${write_seconds[*]}" "${hash_seconds[*]}" \
  "${engine_seconds[*]}" "${engine_transfer[*]}" "$engine_peak" "$engine_private" "$engine_ws" \
  "$(value peak_pagefile_usage "$small")" "$(value private_usage "$small")" "$(value peak_working_set "$small")" \
  "$small_size" "$big_size" <<'EOF'
import statistics, sys
bare, write, write_s, hash_s, engine_s, transfer = ([float(x) for x in a.split()] for a in sys.argv[1:7])
peak, private, ws, small_peak, small_private, small_ws, small_size, big_size = (int(x) for x in sys.argv[7:15])
med = statistics.median
mib = lambda n: n / 1048576
verdict = lambda ok: "aim met" if ok else "aim MISSED"
# Each round's ratios, then their median: the downloads of one round ran back to back, under the same load.
transfer_ratio = med(t / w for t, w in zip(transfer, write))
whole_ratio = med(e / (w + h) for e, w, h in zip(engine_s, write_s, hash_s))
growth = mib(peak - small_peak)
print(f"median bare read loop:     {med(bare):7.1f} MiB/s")
print(f"median bare loop + write:  {med(write):7.1f} MiB/s; {med(write_s):.3f} s with its closes; SHA-256 pass {med(hash_s):.3f} s")
print(f"median engine:             {med(transfer):7.1f} MiB/s transfer; whole call {med(engine_s):.3f} s")
print(f"transfer ratio, engine / bare loop + write:               {transfer_ratio:.2f}"
      f"  (aim >= 0.90: {verdict(transfer_ratio >= 0.9)})")
print(f"whole-call ratio, engine / (bare loop + write + SHA-256): {whole_ratio:.2f}"
      f"  (aim <= 1.10: {verdict(whole_ratio <= 1.1)})")
print(f"engine process, {big_size}-byte package: peak pagefile usage {mib(peak):6.1f} MiB,"
      f" private usage {mib(private):6.1f} MiB, peak working set {mib(ws):6.1f} MiB")
print(f"engine process, {small_size}-byte package:    peak pagefile usage {mib(small_peak):6.1f} MiB,"
      f" private usage {mib(small_private):6.1f} MiB, peak working set {mib(small_ws):6.1f} MiB")
print(f"peak pagefile usage, big package minus small: {growth:+.1f} MiB for {mib(big_size - small_size):.0f} MiB"
      f" more package ({verdict(abs(growth) < 4)}: flat in the package size)")
EOF
