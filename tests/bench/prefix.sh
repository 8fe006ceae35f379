#!/usr/bin/env bash
# Makes $WINEPREFIX a headless Wine prefix with a running wineserver and its services, and proves that windows and
# message boxes work in it. Shared by the bench and the demo command.
#   prefix.sh LOADER BENCH_READY_EXE
# The null display driver gives real windows, timers and message boxes without an X server; it is read when the
# desktop process starts, so a prefix that was just created (its desktop started with the default driver, where
# every window fails) gets its server restarted once the setting is in.
set -eu
: "${WINEPREFIX:?}"
. "$(dirname "$0")/wine-env.sh"
loader=${1:?the Wine loader of the build tree}
ready_exe=${2:?the bench_ready program}
wine=$WINE64
# Runs one step of the set-up detached from our output (see setup.sh); a failing step ends the set-up, saying which.
must() {
  local what=$1
  shift
  "$@" </dev/null >/dev/null 2>&1 || { echo "Wine prefix $WINEPREFIX: $what failed (exit $?)" >&2; exit 1; }
}
# A prefix made before the 32-bit loader was installed has no 32-bit system DLLs: every 32-bit program would fail to
# start (0xC0000135). Make such a prefix again; it holds nothing the bench needs to keep.
if wine32_works && [ -d "$WINEPREFIX/drive_c/windows" ] && [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
  echo "remaking $WINEPREFIX: it was made without the 32-bit loader"
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
fi
mkdir -p "$WINEPREFIX"
driver_key='HKCU\Software\Wine\Drivers'
if ! grep -qs '"Graphics"="null"' "$WINEPREFIX/user.reg"; then
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  must "creating the prefix (wineboot -i)" "$wine" wineboot -i
  must "choosing the null display driver" "$wine" reg add "$driver_key" /v Graphics /d null /f
  must "turning off managed X11 windows" "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  "$WINESERVER" -w </dev/null >/dev/null 2>&1 || true
fi
# An already running server (left by an earlier run of this tree) is fine.
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
must "starting the prefix's services (wineboot)" "$wine" wineboot

# A new prefix finishes initialising in the background; poll until a box can be shown, read and answered.
deadline=$((SECONDS + 90))
attempts=0
while :; do
  attempts=$((attempts + 1))
  if out=$("$loader" "$ready_exe" </dev/null 2>&1 >/dev/null); then
    break
  fi
  if [ $SECONDS -ge $deadline ]; then
    echo "Wine prefix $WINEPREFIX: windows and message boxes still fail after $attempts attempts:" >&2
    echo "$out" >&2
    exit 1
  fi
  sleep 0.2
done
echo "Wine prefix ready: $WINEPREFIX (a message box shown, read and answered; attempt $attempts)"
