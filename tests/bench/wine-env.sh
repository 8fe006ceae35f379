# Sourced by every script that starts Wine: its programs by their real paths (a machine with only the packages the
# bootstrap installs has none of them on PATH), and no proxy variables, which Wine's WinHTTP would pick up as the
# default proxy and send loopback downloads through.
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver
for v in $(env | grep -io '^[a-z_]*proxy[a-z_]*=' | tr -d '='); do unset "$v"; done
export WINEDEBUG="${WINEDEBUG:--all}"
if [ ! -x "$WINE64" ] || [ ! -x "$WINESERVER" ]; then
  echo "Wine is missing: $WINE64 or $WINESERVER not found (scripts/bootstrap.sh installs wine64)" >&2
  return 1 2>/dev/null || exit 1
fi
# The 32-bit loader runs only where wine32 is installed and the kernel runs 32-bit code.
wine32_works() { [ -x "$WINE32" ] && "$WINE32" --version >/dev/null 2>&1; }
