#!/usr/bin/env bash
# Installs the Debian packages the build and the bench need, when any is missing: the win32-thread mingw-w64
# compilers for both targets, wine64, cmake, ninja, GoogleTest's sources, Python with pefile for the static checks of
# the product, openssl for the download bench's test CA and osslsigncode for signing a release. Where the kernel runs
# 32-bit code it also adds the i386 architecture and the 32-bit Wine loader, so that the tests run the i686 product
# itself; where it cannot, it leaves them out and says so (the x86_64 twin is then the only build that runs).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
packages=(cmake ninja-build python3 python3-pefile googletest g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32
          wine64 openssl osslsigncode)
if "$here/kernel-runs-32bit.sh"; then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture (this kernel runs 32-bit code)"
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
else
  echo "this kernel cannot run 32-bit code: only the x86_64 twin will be tested"
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
fi
# Wine passes text on in the Unix locale's character set, so the scripts that start it choose a UTF-8 locale
# (tests/bench/wine-env.sh). Debian's C library has C.UTF-8 built in; a machine without any gets the precompiled set.
if ! locale -a 2>/dev/null | grep -qi '\.utf-\?8$'; then
  echo "installing: locales-all (this machine has no UTF-8 locale)"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends locales-all >/dev/null
fi
