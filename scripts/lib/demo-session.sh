#!/usr/bin/env bash
# The demo inside the build root: OBS with the plugin, a screenshot, a clean shutdown.
set -uo pipefail
. "$(dirname "$0")/common.sh"
. "$(dirname "$0")/obs-session.sh"
out=$1
work=$(mktemp -d /tmp/corvane-demo.XXXXXX)
say "starting OBS Studio with the plugin (display ${DISPLAY:-Xvfb})"
obs_session_start "$work" build/dev || die "OBS could not be started."
obs_session_wait_log "[corvane] loading plugin" 60 || { obs_session_stop; die "OBS did not load the plugin."; }
say "OBS loaded the plugin: $(grep -F '[corvane] loading plugin' "$OBS_SESSION_LOG" | head -1)"
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; die "OBS did not finish starting."; }
sleep 3
obs_session_screenshot "$out" || { obs_session_stop; die "no screenshot."; }
say "screenshot saved"
say "asking OBS to quit"
obs_session_stop || die "OBS did not shut down cleanly (log: $OBS_SESSION_LOG)."
grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || die "OBS quit without unloading the plugin."
say "OBS shut down cleanly: $(grep -F 'Number of memory leaks' "$OBS_SESSION_LOG")"
rm -rf "$work"
