#!/usr/bin/env bash
# The i686 host that the tests run must be the release exe itself, byte for byte: the same sources, payload, flags
# and tool chain, in another build folder. Only a release tree that carries the in-tree demo payload can match; one
# built around another payload is skipped with the reason.
#   same_as_release.sh TESTED_EXE RELEASE_TREE
set -u
tested=$1 tree=$2
release=$tree/bin/VelvaroHost.exe
payload=$(sed -n 's/^HOST_PAYLOAD:[A-Z]*=//p' "$tree/CMakeCache.txt" 2>/dev/null)
if [ -n "$payload" ]; then
  echo "skipped: the release tree carries another payload ($payload)"
  exit 77
fi
if cmp -s "$tested" "$release"; then
  echo "the tested i686 host is the release exe: $(sha256sum <"$release" | cut -d' ' -f1)"
  exit 0
fi
echo "the tested i686 host ($tested) differs from the release exe ($release):" >&2
cmp "$tested" "$release" >&2 | head -5
exit 1
