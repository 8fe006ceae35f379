#!/usr/bin/env bash
# The release command: builds the 32-bit product in Release from a clean build folder, signs it (scripts/sign.sh),
# runs the product's static checks on the signed file and writes both files with their SHA-256 into the release
# folder. The unsigned exe is reproducible: the same sources, payload and tool chain give the same bytes anywhere, so
# anyone can rebuild it and compare. Nothing is written to the release folder unless every step succeeded.
#
# usage: scripts/release.sh
#   HOST_PAYLOAD=YourTool.exe   the payload to embed (default: the in-tree demo payload)
#   HOST_RELEASE_DIR=dir        where the release goes (default: release/ in the source tree)
#   HOST_RELEASE_BUILD=dir      the build folder: new, empty, or made by this command, which empties it first
#                               (default: build/release in the source tree)
#   signing: see scripts/sign.sh (no certificate given: a throw-away test certificate, and the file is TEST-SIGNED)
set -eu
payload=""
if [ -n "${HOST_PAYLOAD:-}" ]; then
  [ -f "$HOST_PAYLOAD" ] || { echo "HOST_PAYLOAD is not a file: $HOST_PAYLOAD" >&2; exit 1; }
  payload=$(realpath "$HOST_PAYLOAD")
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${HOST_RELEASE_BUILD:-$source_dir/build/release}")
out=$(realpath -m "${HOST_RELEASE_DIR:-$source_dir/release}")
# The build folder is emptied first, so it must be one that this command made: a folder that exists, holds anything
# and lacks the mark left below is refused (a mistyped HOST_RELEASE_BUILD must never empty someone's folder).
mark=.velvaro-release-build
if { [ -e "$build" ] && [ ! -d "$build" ]; } || { [ -d "$build" ] && [ -n "$(ls -A "$build")" ] && [ ! -f "$build/$mark" ]; }; then
  echo "HOST_RELEASE_BUILD=$build holds files this command did not make: give a new or empty folder" >&2
  exit 1
fi
case "$out/" in
  "$build"/*) echo "HOST_RELEASE_DIR=$out lies inside the build folder, which is emptied first" >&2; exit 1 ;;
esac
cd "$source_dir"
scripts/bootstrap.sh

# A clean folder, and the payload always given, so that nothing cached by an earlier build can reach the release.
rm -rf "$build"
mkdir -p "$build"
touch "$build/$mark"
cmake --preset x86-release -B "$build" -DHOST_PAYLOAD="$payload" >/dev/null
cmake --build "$build" --target VelvaroHost

stage="$build/release-stage"
mkdir -p "$stage/unsigned"
cp "$build/bin/VelvaroHost.exe" "$stage/unsigned/VelvaroHost.exe"
scripts/sign.sh "$stage/unsigned/VelvaroHost.exe" "$stage/VelvaroHost.exe"
HOST_PRODUCT_EXE="$stage/VelvaroHost.exe" /usr/bin/python3 tests/product/check_product.py "$build" 2>"$build/checks.log" ||
  { cat "$build/checks.log" >&2; echo "the signed file fails the product's static checks: no release" >&2; exit 1; }
(cd "$stage/unsigned" && sha256sum VelvaroHost.exe >VelvaroHost.exe.sha256)
(cd "$stage" && sha256sum VelvaroHost.exe >VelvaroHost.exe.sha256)

# Only the files of a release are replaced: the folder may hold other things of the user's.
mkdir -p "$out"
rm -rf "$out/VelvaroHost.exe" "$out/VelvaroHost.exe.sha256" "$out/test-signing-ca.pem" "$out/unsigned"
mv "$stage"/* "$out"/
rmdir "$stage"
echo "release in $out:"
echo "  VelvaroHost.exe           $(cut -d' ' -f1 "$out/VelvaroHost.exe.sha256")  $(stat -c %s "$out/VelvaroHost.exe") bytes, signed"
echo "  unsigned/VelvaroHost.exe  $(cut -d' ' -f1 "$out/unsigned/VelvaroHost.exe.sha256")  $(stat -c %s "$out/unsigned/VelvaroHost.exe") bytes, reproducible"
if [ -f "$out/test-signing-ca.pem" ]; then
  echo "  TEST-SIGNED with a throw-away certificate: not for distribution"
  echo "check: scripts/verify-signature.sh $out/VelvaroHost.exe $out/test-signing-ca.pem"
else
  echo "check: scripts/verify-signature.sh $out/VelvaroHost.exe ${HOST_SIGN_CA:-}"
fi
