#!/usr/bin/env bash
# Builds the 32-bit product and runs every test: on the i686 product itself under the 32-bit Wine loader where this
# machine runs 32-bit code, and on its x86_64 twin under wine64 everywhere. The last lines say which builds were
# tested and how many tests passed. The test trees always carry the in-tree demo payload: the demo command's payload
# lives in a build tree of its own, and a payload embedded in the release tree stays there (its static checks compare
# the embedded bytes with that file).
set -eu -o pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
. tests/bench/wine-env.sh

cmake --preset x86-release >/dev/null
cmake --build --preset x86-release

if ! scripts/kernel-runs-32bit.sh; then
  presets=(x64-test)
  tested="x86_64 twin only — this kernel cannot run 32-bit code"
elif ! wine32_works; then
  presets=(x64-test)
  tested="x86_64 twin only — the 32-bit Wine loader ($WINE32) does not run here"
else
  presets=(x86-test x64-test)
  tested="i686 product and x86_64 twin"
fi

summary=()
passed_all=0 failed_all=0 status=0
for preset in "${presets[@]}"; do
  cmake --preset "$preset" -DHOST_PAYLOAD= >/dev/null
  cmake --build --preset "$preset"
  log=build/$preset/ctest-summary.log
  ctest --preset "$preset" 2>&1 | tee "$log" || status=1
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -z "$line" ]; then
    summary+=("$preset: no summary from ctest")
    status=1
    continue
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  passed=$((total - failed))
  passed_all=$((passed_all + passed)) failed_all=$((failed_all + failed))
  summary+=("$preset: $passed passed, $failed failed")
done

echo
echo "tested: $tested"
printf '%s\n' "${summary[@]}"
echo "all: $passed_all passed, $failed_all failed"
exit $status
