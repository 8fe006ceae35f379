#!/usr/bin/env bash
# Builds the host twin (x86_64, carrying the demo payload unless HOST_PAYLOAD names another exe) and runs it under
# wine64 with the given arguments, in a Wine prefix of its own with the .NET Framework 4 flag set, so that the host
# takes the launch road. Shows what the payload received, any notice the host raised, and the host's exit code.
#   scripts/run-host.sh --check
#   HOST_DEMO_RUNTIME=missing scripts/run-host.sh     # the road without the runtime: the installer window's texts
#   HOST_DEMO_RUNTIME=missing HOST_DEMO_WINDOWS=win7 scripts/run-host.sh   # as Windows 7 SP1 (or win10, win81...)
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset x64-test -DHOST_PAYLOAD="${HOST_PAYLOAD:-}" >/dev/null
cmake --build --preset x64-test --target VelvaroHost run_host >/dev/null

export WINEPREFIX="$PWD/build/x64-test/demo-prefix"
. tests/bench/wine-env.sh
wine=$WINE64
trap '"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true' EXIT
tests/bench/prefix.sh
key='HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full'
if [ "${HOST_DEMO_RUNTIME:-present}" = missing ]; then
  "$wine" reg delete "$key" /v Install /f </dev/null >/dev/null 2>&1 || true
  "$wine" reg delete "$key" /v Install /f /reg:32 </dev/null >/dev/null 2>&1 || true
else
  "$wine" reg add "$key" /v Install /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1
fi
# The Windows version Wine reports to the host (the prefix's own when unset).
appdefaults='HKCU\Software\Wine\AppDefaults\VelvaroHost.exe'
if [ -n "${HOST_DEMO_WINDOWS:-}" ]; then
  "$wine" reg add "$appdefaults" /v Version /d "$HOST_DEMO_WINDOWS" /f </dev/null >/dev/null 2>&1
else
  "$wine" reg delete "$appdefaults" /f </dev/null >/dev/null 2>&1 || true
fi
"$wine" build/x64-test/bin/run_host.exe "$@" </dev/null 2>/dev/null | tr -d '\r'
