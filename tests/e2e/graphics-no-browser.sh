#!/usr/bin/env bash
# Real OBS has no browser source on Debian: a saved scene holding a Corvane graphics source
# must load, log why the graphics cannot be shown, and leave OBS running and quitting cleanly.
# Usage: graphics-no-browser.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-graphics.XXXXXX)
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40; exit 1; }

home="$work/home"
# The sign-in restore at start goes to a closed local port, never to the real portal.
obs_session_write_settings "$home" "{ \"portal_url\": \"$OBS_SESSION_OFFLINE_PORTAL\" }"
obs_session_write_scene "$home" corvane_graphics "Corvane graphics" '{ "output_id": "out-main", "output_name": "Main scorebug",
  "url": "https://example.invalid/graphics/o/tok-main", "width": 1280, "height": 720 }'

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
