#!/usr/bin/env bash
# Builds the host (carrying the demo payload unless HOST_PAYLOAD names another exe) in a build tree of its own and
# runs it under Wine with the given arguments, in a Wine prefix of its own with the .NET Framework 4 flag set, so that
# the host takes the launch road. Shows what the payload received, any notice the host raised, and the host's exit
# code in all 32 bits.
#   scripts/run-host.sh --check
#   HOST_DEMO_RUNTIME=missing scripts/run-host.sh     # the road without the runtime: the installer window's texts
#   HOST_DEMO_RUNTIME=missing HOST_DEMO_WINDOWS=win7 scripts/run-host.sh   # as Windows 7 SP1 (or win10, win81...)
#   HOST_BUILD=x64 scripts/run-host.sh --check        # the x86_64 twin instead of the i686 product
# HOST_BUILD defaults to x86 (the product itself) where this machine runs 32-bit code, else to x64.
set -eu
cd "$(dirname "$0")/.."
scripts/bootstrap.sh >&2
. tests/bench/wine-env.sh

build=${HOST_BUILD:-}
if [ -z "$build" ]; then
  if scripts/kernel-runs-32bit.sh && wine32_works; then build=x86; else
    echo "(this machine cannot run 32-bit code: running the x86_64 twin)" >&2
    build=x64
  fi
fi
case "$build" in
x86) wine=$WINE32 ;;
x64) wine=$WINE64 ;;
*) echo "HOST_BUILD must be x86 or x64" >&2; exit 2 ;;
esac

cmake --preset "$build-demo" -DHOST_PAYLOAD="${HOST_PAYLOAD:-}" >/dev/null
cmake --build --preset "$build-demo" --target VelvaroHost run_host bench_ready >/dev/null

export WINEPREFIX="$PWD/build/$build-demo/demo-prefix"
trap '"$WINESERVER" -k </dev/null >/dev/null 2>&1 || true' EXIT
tests/bench/prefix.sh "$wine" "build/$build-demo/bin/bench_ready.exe" >/dev/null
key='HKLM\SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full'
# The runtime's setup writes both registry views; so does this.
for view in /reg:64 /reg:32; do
  if [ "${HOST_DEMO_RUNTIME:-present}" = missing ]; then
    "$WINE64" reg delete "$key" /v Install /f $view </dev/null >/dev/null 2>&1 || true   # absent already is fine
  else
    "$WINE64" reg add "$key" /v Install /t REG_DWORD /d 1 /f $view </dev/null >/dev/null
  fi
done
# The Windows version Wine reports to the host (the prefix's own when unset).
appdefaults='HKCU\Software\Wine\AppDefaults\VelvaroHost.exe'
if [ -n "${HOST_DEMO_WINDOWS:-}" ]; then
  "$WINE64" reg add "$appdefaults" /v Version /d "$HOST_DEMO_WINDOWS" /f </dev/null >/dev/null 2>&1
else
  "$WINE64" reg delete "$appdefaults" /f </dev/null >/dev/null 2>&1 || true
fi
echo "host: build/$build-demo/bin/VelvaroHost.exe ($([ "$build" = x86 ] && echo 'the i686 product' || echo 'the x86_64 twin'))"
"$wine" "build/$build-demo/bin/run_host.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'
