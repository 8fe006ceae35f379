#!/usr/bin/env bash
# Pictures the installer window in each of its states and every notice of the host, rendered by Wine under Xvfb with
# a real CJK font, into docs/pictures/*.png. Run it again whenever a text or the layout changes.
#   scripts/screenshots.sh
# Installs what it needs when missing (Xvfb, xwd, ImageMagick, the WenQuanYi Micro Hei font), builds the x64-test
# tree's gallery program, and uses a Wine prefix of its own (build/x64-test/shots-prefix) with the X11 driver.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
out=$root/docs/pictures

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v xwd >/dev/null || need+=(x11-apps)
[ -x /usr/bin/convert ] || need+=(imagemagick)
[ -f /usr/share/fonts/truetype/wqy/wqy-microhei.ttc ] || need+=(fonts-wqy-microhei)
if [ ${#need[@]} -gt 0 ]; then
  echo "installing ${need[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${need[@]}" >/dev/null
fi

scripts/bootstrap.sh
cmake --preset x64-test >/dev/null
cmake --build --preset x64-test --target installer_window_gallery installer_stub

. tests/bench/wine-env.sh
export WINEPREFIX=$root/build/x64-test/shots-prefix
work=$root/build/x64-test/shots
rm -rf "$work" && mkdir -p "$work/requests" "$work/temp" "$out"

display=:$((90 + RANDOM % 500))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
xvfb=$!
server_dir=$work/server
cleanup() {
  tests/bench/download_server.sh stop "$server_dir" >/dev/null 2>&1 || true
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xwd -root -display "$display" -silent >/dev/null 2>&1 && break; sleep 0.1; done

# The prefix: unmanaged windows (a managed one stalls every DestroyWindow), Chinese through the CJK font.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
  "$WINE64" wineboot -i </dev/null >/dev/null 2>&1
fi
"$WINESERVER" -p </dev/null >/dev/null 2>&1 || true
reg() { "$WINE64" reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
reg 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'WenQuanYi Micro Hei'
reg 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS Shell Dlg' /d 'WenQuanYi Micro Hei'
reg 'HKCU\Software\Wine\Fonts\Replacements' /v Tahoma /d 'WenQuanYi Micro Hei'
"$WINE64" wineboot </dev/null >/dev/null 2>&1

tests/bench/download_server.sh start "$server_dir" >/dev/null
export DOWNLOAD_BENCH_INFO=$server_dir/server.txt

winpath() { echo "Z:${1//\//\\}"; }
"$WINE64" "$root/build/x64-test/bin/installer_window_gallery.exe" "$(winpath "$work/requests")" \
  "$(winpath "$work/temp")\\" </dev/null >"$work/gallery.log" 2>&1 &
gallery=$!

# Each request names a picture and the rectangle of its window on the screen.
made=0
while kill -0 "$gallery" 2>/dev/null; do
  for request in "$work"/requests/*.request; do
    [ -e "$request" ] || continue
    name=$(basename "$request" .request)
    read -r x y w h <"$request"
    xwd -root -display "$display" -silent | /usr/bin/convert xwd:- -crop "${w}x${h}+${x}+${y}" +repage -strip \
      -define png:exclude-chunks=date,time "$out/$name.png"
    rm -f "$request"
    touch "$work/requests/$name.done"
    echo "$out/$name.png"
    made=$((made + 1))
  done
  sleep 0.05
done
# A run that pictured nothing, or stopped half way, must not pass for one that renewed the pictures.
status=0
wait "$gallery" || status=$?
if [ "$status" -ne 0 ] || [ "$made" -eq 0 ]; then
  echo "screenshots FAILED: the gallery ended with exit code $status after $made pictures; its output:" >&2
  cat "$work/gallery.log" >&2
  exit 1
fi
echo "$made pictures in $out"
