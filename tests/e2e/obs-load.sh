#!/usr/bin/env bash
# Real OBS loads the built plugin from a throw-away configuration and unloads it cleanly.
# Usage: obs-load.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-load.XXXXXX)
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40; exit 1; }

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
# Let OBS finish starting (the main window) before quitting, as a user would.
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
obs_session_stop
status=$?
[ "$status" -eq 0 ] || fail "OBS exited with status $status"
log=$OBS_SESSION_LOG
grep -qF "[corvane] plugin unloaded" "$log" || fail "no unload line"
# cmake --install put the Bluetooth helper beside the plugin, and the plugin found it there.
grep -qE "\[corvane\] Bluetooth helper: .*/corvane-obs/bin/64bit/corvane-ble-helper$" "$log" || fail "the installed Bluetooth helper was not found"
grep -qF "Number of memory leaks: 0" "$log" || fail "libobs reported leaks or did not finish shutting down"
# The unload line must come after the load line, and OBS must not have flagged the module.
load_line=$(grep -nF "[corvane] loading plugin 1.0.1" "$log" | head -1 | cut -d: -f1)
unload_line=$(grep -nF "[corvane] plugin unloaded" "$log" | tail -1 | cut -d: -f1)
[ "$load_line" -lt "$unload_line" ] || fail "unload logged before load"
if grep -iE "corvane-obs.*(failed|error|not load)" "$log"; then fail "OBS reported a problem with the module"; fi
echo "PASS: OBS loaded and unloaded corvane-obs; log $log"
rm -rf "$work"
