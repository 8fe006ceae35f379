# Sourced by every script that starts Wine: its programs by their real paths (a machine with only the packages the
# bootstrap installs has none of them on PATH), no proxy variables, which Wine's WinHTTP would pick up as the
# default proxy and send loopback downloads through, and a UTF-8 locale: Wine converts command lines and file names
# with the Unix locale's character set, so without one a Chinese argument reaches the Windows side mangled.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
for v in $(env | grep -io '^[a-z_]*proxy[a-z_]*=' | tr -d '='); do unset "$v"; done
export WINEDEBUG="${WINEDEBUG:--all}"
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
  # C.UTF-8 is built into Debian's C library; any other UTF-8 locale will do where it is missing.
  utf8_locale=$(locale -a 2>/dev/null | grep -ix 'c\.utf-\?8' | head -n 1 || true)
  [ -n "$utf8_locale" ] || utf8_locale=$(locale -a 2>/dev/null | grep -i '\.utf-\?8$' | head -n 1 || true)
  if [ -z "$utf8_locale" ]; then
    echo "no UTF-8 locale on this machine (scripts/bootstrap.sh installs one): Wine would mangle non-ASCII text" >&2
    return 1 2>/dev/null || exit 1
  fi
  export LC_ALL=$utf8_locale
  unset utf8_locale
fi
if [ ! -x "$WINE64" ] || [ ! -x "$WINESERVER" ]; then
  echo "Wine is missing: $WINE64 or $WINESERVER not found (scripts/bootstrap.sh installs wine64)" >&2
  return 1 2>/dev/null || exit 1
fi
# The 32-bit loader runs only where wine32 is installed and the kernel runs 32-bit code.
wine32_works() { [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1; }
# Whether a wineserver already serves $WINEPREFIX (it works in a folder named after the prefix's device and inode):
# a script that finds one, a test run's for instance, leaves it running when it ends.
wineserver_running() {
  local id p
  id=$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX" 2>/dev/null)) || return 1
  for p in $(pgrep -u "$(id -u)" '^wineserver' || true); do
    [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" = "$id" ] && return 0
  done
  return 1
}
