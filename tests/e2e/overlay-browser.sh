#!/usr/bin/env bash
# The built-in overlays in a real browser (headless Chromium from the root's packages,
# driven by browser/overlays.cjs) against the plugin core fed by corvane-devsim over USB,
# without OBS; a second simulator, followed beside the main device, plays another game for
# the pages that ask for it with ?device=. The overlays' screenshots land in BUILD_DIR/screenshots/ (the README's comes
# from there).
# Usage: overlay-browser.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
work=$(mktemp -d /tmp/corvane-overlays.XXXXXX)
core_pid=
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "$core_pid" ] && { kill "$core_pid" 2>/dev/null; wait "$core_pid" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/core.err" ] && sed 's/^/  core| /' "$work/core.err" | tail -20; exit 1; }

# The DevTools driver, installed with the build root (scripts/lib/common.sh), by lock file.
key=$(sha256sum "$src/tests/e2e/browser/package-lock.json" | cut -c1-16)
modules=
for dir in "/var/cache/npm/$key/node_modules" "${CORVANE_CACHE:-/var/cache/corvane-obs}/npm/$key/node_modules"; do
  [ -d "$dir/puppeteer-core" ] && { modules=$dir; break; }
done
[ -n "$modules" ] || fail "puppeteer-core is not installed for this lock file ($key); any scripts/in-root command installs it"
browser=$(command -v chromium-headless-shell || command -v chromium) ||
  fail "no Chromium here; it comes with the Debian package chromium-headless-shell"
command -v node >/dev/null || fail "node is not installed here; it comes with the Debian package nodejs"

# The core runs until its standard input closes.
mkfifo "$work/in"
followed=CV-2002
"$build/tools/livecore/corvane-live-core" --follow "$followed" --follow-sport hockey -- --sport basketball --live-ms 500 <"$work/in" >"$work/core.out" 2>"$work/core.err" &
core_pid=$!
exec 3>"$work/in"
for _ in $(seq 600); do
  grep -q '^READY' "$work/core.out" 2>/dev/null && break
  kill -0 "$core_pid" 2>/dev/null || fail "the plugin core exited"
  sleep 0.1
done
grep -q '^READY' "$work/core.out" || fail "the plugin core did not get a score from the simulator"
port=$(awk '$1 == "OVERLAY" { print $2 }' "$work/core.out")

NODE_PATH=$modules node "$src/tests/e2e/browser/overlays.cjs" --browser "$browser" --port "$port" --shots "$build/screenshots" --device "$followed"
