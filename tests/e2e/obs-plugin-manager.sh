#!/usr/bin/env bash
# OBS 32's Plugin Manager lists the plugin by the name its manifest gives, and records the
# manifest's id and version: Tools > Plugin Manager is opened through the accessibility bus,
# as a user would, and "Corvane" must be among the plugins it shows.
# Usage: obs-plugin-manager.sh SOURCE_DIR BUILD_DIR VERSION
set -uo pipefail
src=$1 build=$2 version=$3
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "FAIL: dbus-run-session is not installed (Debian package dbus)"; exit 1; }
  exec dbus-run-session -- bash "$0" "$@"
fi
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-plugin-manager.XXXXXX)
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40
  exit 1
}

obs_session_display "$work" || fail "no X display"
obs_session_accessibility || fail "the accessibility bus did not start"
OBS_SESSION_GEOMETRY=1600x1000+0+0 obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin $version" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
python3 "$src/tests/e2e/plugin-manager-driver.py" Corvane >"$work/driver.out" 2>&1
driver=$?
sed 's/^/  /' "$work/driver.out"
obs_session_stop || fail "OBS did not quit cleanly"
[ "$driver" = 0 ] || fail "the Plugin Manager does not list Corvane"
grep -qF "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "OBS reported leaks"

# What the Plugin Manager keeps of each module: the manifest's name, id and version.
modules=$(find "$OBS_SESSION_HOME/.config/obs-studio" -path '*plugin_manager/modules.json' | head -n 1)
[ -n "$modules" ] || fail "the Plugin Manager saved no modules.json"
python3 - "$modules" "$version" <<'PY' || fail "modules.json does not hold the plugin's manifest ($modules)"
import json, sys
modules = json.load(open(sys.argv[1]))
ours = [m for m in modules if m.get("module_name") == "corvane-obs"]
assert ours, "corvane-obs is not in modules.json"
m = ours[0]
print("  modules.json:", {k: m.get(k) for k in ("display_name", "id", "version", "enabled")})
assert (m.get("display_name"), m.get("id"), m.get("version"), m.get("enabled")) == ("Corvane", "corvane-obs", sys.argv[2], True), m
PY
echo "PASS: the Plugin Manager lists Corvane $version (id corvane-obs)"
rm -rf "$work"
