#!/usr/bin/env bash
# Builds both targets (the 32-bit product and its x86_64 twin with every test) and runs every test under wine64.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset x86-release >/dev/null
cmake --build --preset x86-release
cmake --preset x64-test >/dev/null
cmake --build --preset x64-test
ctest --preset x64-test
