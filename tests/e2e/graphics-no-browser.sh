#!/usr/bin/env bash
# Real OBS has no browser source on Debian: a saved scene holding a Corvane graphics source
# must load, log why the graphics cannot be shown, and leave OBS running and quitting cleanly.
# Usage: graphics-no-browser.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-graphics.XXXXXX)
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40; exit 1; }

config="$work/home/.config/obs-studio"
mkdir -p "$config/basic/scenes" "$config/plugin_config/corvane-obs"
# The sign-in restore at start goes to a closed local port, never to the real portal.
printf '{ "portal_url": "%s" }\n' "$OBS_SESSION_OFFLINE_PORTAL" >"$config/plugin_config/corvane-obs/settings.json"
# OBS opens the collection "Untitled" when global.ini names none.
cat >"$config/basic/scenes/Untitled.json" <<'JSON'
{
  "name": "Untitled",
  "current_scene": "Scene",
  "current_program_scene": "Scene",
  "scene_order": [{"name": "Scene"}],
  "sources": [
    {"name": "Scene", "id": "scene", "versioned_id": "scene",
     "settings": {"id_counter": 1, "items": [{"name": "Corvane graphics", "id": 1, "visible": true}]}},
    {"name": "Corvane graphics", "id": "corvane_graphics", "versioned_id": "corvane_graphics",
     "settings": {"output_id": "out-main", "output_name": "Main scorebug",
                  "url": "https://example.invalid/graphics/o/tok-main", "width": 1280, "height": 720}}
  ],
  "transitions": [],
  "current_transition": "Fade",
  "transition_duration": 300
}
JSON

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "[corvane] this OBS has no browser source, so graphics cannot be shown" 60 ||
  { obs_session_stop; fail "no error line for the missing browser source"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
obs_session_stop
status=$?
[ "$status" -eq 0 ] || fail "OBS exited with status $status"
log=$OBS_SESSION_LOG
grep -qF "[corvane] plugin unloaded" "$log" || fail "no unload line"
# The type itself is known to OBS: only the child is missing.
if grep -qF "Source ID 'corvane_graphics' not found" "$log"; then fail "corvane_graphics was not registered"; fi
# OBS's log file carries no levels; the error level is checked under libobs (tst_GraphicsSource).
# The restore against a closed port logs nothing.
if grep -qF "could not restore sign-in" "$log"; then fail "a failed connection must not be logged"; fi
echo "PASS: OBS loaded a scene with a Corvane graphics source and logged the missing browser source; log $log"
rm -rf "$work"
