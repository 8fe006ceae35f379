# Sourced by the benchmark scripts that time a download (scripts/bench-download.sh, scripts/bench-window.sh), so the
# way they reach a ready bench is written once: builds $benchmark (a CMake target) and bench_ready in $tree, readies
# that tree's bench prefix, starts the loopback download server with its big package (BENCH_SIZE bytes when set) in
# $server_dir, and stops the server, and a wineserver this script started, when the script exits; a wineserver that
# was already running (a test run's) stays. Sets loader (the tree's Wine loader) and info (the server's info file).
. tests/bench/wine-env.sh
loader=$(sed -n 's/^HOST_WINE_LOADER:[A-Z]*=//p' "$tree/CMakeCache.txt")
loader=${loader:-$WINE64}

cmake --build "$tree" --target "$benchmark" bench_ready >/dev/null
export WINEPREFIX=$tree/wineprefix
stop_wineserver=true
wineserver_running && stop_wineserver=false
tests/bench/setup.sh "$loader" "$tree/bin/bench_ready.exe" >/dev/null
stop() {
  tests/bench/download_server.sh stop "$server_dir" >/dev/null || true
  $stop_wineserver && tests/bench/teardown.sh >/dev/null || true
}
trap stop EXIT
tests/bench/download_server.sh start "$server_dir" --big ${BENCH_SIZE:+--big-size "$BENCH_SIZE"} >/dev/null
info=$server_dir/server.txt
