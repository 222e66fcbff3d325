#!/usr/bin/env bash
# Builds every preset and runs its tests; run from the checkout's root where Qt 6 and OBS are.
# The plain build runs last so that its CTest summary closes the output.
set -uo pipefail
. "$(dirname "$0")/common.sh"

failed=()
build_preset() {
  local preset=$1 started=$SECONDS
  say "configuring and building preset '$preset'"
  cmake --preset "$preset" >"build/configure-$preset.log" 2>&1 ||
    { cat "build/configure-$preset.log"; die "configuring preset '$preset' failed (log above)."; }
  cmake --build --preset "$preset" || die "building preset '$preset' failed (compiler output above)."
  say "preset '$preset' built in $((SECONDS - started)) s"
}
test_preset() {
  local preset=$1
  say "running the tests of preset '$preset'"
  ctest --preset "$preset" --no-tests=error -j2 || failed+=("$preset")
}

mkdir -p build
for preset in asan tsan dev; do
  build_preset "$preset"
  test_preset "$preset"
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "error: tests failed in preset(s): ${failed[*]}" >&2
  exit 1
fi
