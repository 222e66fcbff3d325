#!/usr/bin/env bash
# Builds the given presets and runs their tests; run from the checkout's root where Qt 6 and
# OBS are (inside a build root). Each preset's counts go to build/summary-PRESET.txt for
# scripts/test's closing summary.
#   build-and-test.sh asan tsan dev
# CORVANE_TEST_LABELS (a ctest label expression, such as unit|integration) narrows the tests.
set -uo pipefail
. "$(dirname "$0")/common.sh"
[ $# -gt 0 ] || die "usage: build-and-test.sh PRESET..."

obs_version=$(dpkg-query -W -f='${Version}' obs-studio 2>/dev/null | sed 's/[+~-].*//')
qt_version=$(pkg-config --modversion Qt6Core 2>/dev/null)
failed=()
build_preset() {
  local preset=$1 started=$SECONDS
  say "configuring and building preset '$preset' (OBS ${obs_version:-?}, Qt ${qt_version:-?})"
  cmake --preset "$preset" >"build/configure-$preset.log" 2>&1 ||
    { cat "build/configure-$preset.log"; die "configuring preset '$preset' failed (log above)."; }
  cmake --build --preset "$preset" || die "building preset '$preset' failed (compiler output above)."
  say "preset '$preset' built in $((SECONDS - started)) s"
}
test_preset() {
  local preset=$1 started=$SECONDS log="build/ctest-$preset.log" nfailed total
  say "running the tests of preset '$preset'"
  local labels=()
  [ -z "${CORVANE_TEST_LABELS:-}" ] || labels=(-L "$CORVANE_TEST_LABELS")
  ctest --preset "$preset" "${labels[@]}" --no-tests=error -j2 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || failed+=("$preset")
  # "100% tests passed, 0 tests failed out of 137"
  read -r nfailed total < <(sed -n 's/.* tests passed, \([0-9]*\) tests failed out of \([0-9]*\).*/\1 \2/p' "$log" | tail -n 1)
  printf '%-7s OBS %-7s Qt %-7s %4d passed, %d failed (%d s)\n' "$preset" "${obs_version:-?}" "${qt_version:-?}" \
    "$(( ${total:-0} - ${nfailed:-0} ))" "${nfailed:-0}" "$((SECONDS - started))" >"build/summary-$preset.txt"
}

mkdir -p build
for preset in "$@"; do
  rm -f "build/summary-$preset.txt"
  build_preset "$preset"
  test_preset "$preset"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "error: tests failed in preset(s): ${failed[*]}" >&2
  exit 1
fi
