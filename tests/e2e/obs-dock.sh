#!/usr/bin/env bash
# Real OBS driven as an operator would, through the accessibility bus: open and dock the
# Corvane dock, sign in to the portal simulator, pick the device, see its live score in the
# dock, add a score text to the scene; then overlay pages come and go (41 sessions), one
# sends a single 4 MiB message, the overlay server must still answer, and the operator turns
# it off. The saved scene collection then holds the source, the screenshot shows the score in
# the preview, and OBS quits cleanly with no leaks.
# Usage: obs-dock.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
# The accessibility bus lives in a D-Bus session of the test's own.
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "FAIL: dbus-run-session is not installed (Debian package dbus)"; exit 1; }
  exec dbus-run-session -- bash "$0" "$@"
fi
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-dock.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed "s/^/  obs| /" "$OBS_SESSION_LOG" | tail -40
  [ -f "${scenes:-}" ] && sed "s/^/  scenes| /" "$scenes" | head -60
  cleanup_sim
  exit 1
}

obs_session_start_portal "$build" "$work" || fail "the portal simulator did not start"

home="$work/home"
overlay_port=$(obs_session_free_port)
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\", \"overlay_server_enabled\": true, \"overlay_server_port\": $overlay_port }"
obs_session_display "$work" || fail "no X display"
obs_session_accessibility || fail "the accessibility bus did not start"
OBS_SESSION_GEOMETRY=1600x1000+0+0 obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }

CORVANE_QT_VERSION=$(pkg-config --modversion Qt6Core) python3 "$src/tests/e2e/dock-driver.py" solo@example.com "correct horse battery" "Solo court (CV-4001)" "$overlay_port" >"$work/driver.out" 2>&1
driver=$?
sed 's/^/  /' "$work/driver.out"
[ "$driver" = 0 ] || { obs_session_stop; fail "the operator's steps did not go through"; }
sleep 2
obs_session_screenshot "$work/shot.png" || { obs_session_stop; fail "no screenshot"; }
obs_session_stop || fail "OBS did not quit cleanly"
grep -qF "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "OBS reported leaks: $(grep -F 'memory leaks' "$OBS_SESSION_LOG")"

scenes="$home/.config/obs-studio/basic/scenes/Untitled.json"
grep -q '"id": *"corvane_text"' "$scenes" || fail "no corvane_text source in the saved scene collection"
grep -Eq '"name": *"Corvane Score"' "$scenes" || fail "the added source is not named \"Corvane Score\""
# The score text is white on the black canvas at its top left: the preview's top-left
# corner must hold white pixels (the rest of the window has no pure white there).
white=$(convert "$work/shot.png" -crop 400x220+80+40 +repage -fuzz 8% -fill black +opaque white -fill white -opaque white \
  -format '%[fx:mean]' info: 2>/dev/null)
awk -v w="${white:-0}" 'BEGIN { exit !(w > 0.002) }' || fail "no score text in the preview (white share $white; $work/shot.png)"
echo "PASS: signed in, picked the device and added the score text through the dock; the scene holds \"Corvane Score\" and the preview shows it; overlay pages came and went, a 4 MiB page message left the server answering, and turning it off left OBS running to a clean quit"
cleanup_sim
cp "$work/shot.png" "$build/obs-dock-last.png" 2>/dev/null; rm -rf "$work"
