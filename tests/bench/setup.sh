#!/usr/bin/env bash
# Prepares the bench's own Wine prefix (created once, then reused by later runs of the same build tree), keeps one
# wineserver alive for the run, and proves that windows and message boxes work in it before any test runs: a test
# that asserts "no notice was shown" is worth something only while boxes demonstrably work.
#   setup.sh LOADER BENCH_READY_EXE
# Everything is started detached from our stdout: Wine's services inherit the first process's handles, and CTest
# would otherwise wait on that pipe until its timeout.
set -eu
: "${WINEPREFIX:?}"
exec "$(cd "$(dirname "$0")" && pwd)/prefix.sh" "$@"
