#!/usr/bin/env bash
# Installs the Debian packages the build and the bench need, when any is missing: the win32-thread mingw-w64
# compilers for both targets, wine64 (64-bit only; no i386 architecture), cmake, ninja, GoogleTest's sources and
# Python with pefile for the static checks of the product, and osslsigncode for signing a release.
set -eu
packages=(cmake ninja-build python3 python3-pefile googletest g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
          wine64 openssl osslsigncode)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
