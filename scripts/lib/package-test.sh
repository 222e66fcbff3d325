#!/usr/bin/env bash
# The Debian package as a user meets it: installed with apt into a clean root of its
# distribution (OBS and nothing of the build's), real OBS started there with the simulators
# beside it, then the package removed. Each run sees the clean root through a throw-away
# layer, so the root itself stays clean.
#   scripts/lib/package-test.sh trixie|sid|bookworm     (after scripts/package)
set -uo pipefail
. "$(dirname "$0")/common.sh"
use_root "${1:?usage: package-test.sh trixie|sid|bookworm}"
preset=dev
[ "$CORVANE_ROOT_NAME" = sid ] && preset=obs32
[ "$CORVANE_ROOT_NAME" = bookworm ] && preset=bookworm
deb=$(ls "$CORVANE_SRC/build/deb/$CORVANE_SUITE"/corvane-obs_*_amd64.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || die "no package in build/deb/$CORVANE_SUITE; run scripts/package $CORVANE_ROOT_NAME first."
[ -x "$CORVANE_SRC/build/$preset/tools/portalsim/corvane-portal-sim" ] ||
  die "the portal simulator is not built in build/$preset."
ensure_build_root
ensure_clean_root

layer=$(mktemp -d "$CORVANE_CACHE/package-test.XXXXXX")
trap 'rm -rf --one-file-system "$layer"' EXIT
mkdir -p "$layer/upper" "$layer/work"
export CORVANE_CLEAN_OVERLAY="$CORVANE_CLEAN_ROOT:$layer/upper:$layer/work"
# apt's options for the clean root, as KEY=VALUE words joined by commas (no spaces survive
# the way into the root).
export CORVANE_APT_CONFIG=$(printf '%s\n' "${CORVANE_APT_OPTIONS[@]}" | grep -v '^-o$' | paste -sd, -)
check="scripts/lib/package-check.sh"
rel=${deb#"$CORVANE_SRC"/}

say "package test, $CORVANE_ROOT_LABEL: lintian ${rel}"
lintian_log="build/deb/$CORVANE_SUITE/lintian.txt"
run_in_root "$CORVANE_MOUNT" bash -c "lintian --fail-on error --tag-display-limit 0 '$rel' >'$lintian_log' 2>&1"
lintian_status=$?
sed 's/^/    /' "$CORVANE_SRC/$lintian_log"
[ "$lintian_status" -eq 0 ] || die "lintian found errors in the package (above)."
say "package test, $CORVANE_ROOT_LABEL: installing ${rel} with apt into a clean root"
run_in_root "$CORVANE_MOUNT" bash "$check" install "$rel" || die "the package did not install."
say "package test, $CORVANE_ROOT_LABEL: starting OBS from the package (offline)"
CORVANE_OFFLINE=1 run_in_root "$CORVANE_MOUNT" bash "$check" run "build/$preset" || die "OBS with the package failed."
say "package test, $CORVANE_ROOT_LABEL: removing the package"
CORVANE_OFFLINE=1 run_in_root "$CORVANE_MOUNT" bash "$check" remove || die "the package did not remove cleanly."
say "package test, $CORVANE_ROOT_LABEL: PASS"
