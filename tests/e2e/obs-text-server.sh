#!/usr/bin/env bash
# Real OBS loads a scene collection holding a corvane_text source, and with the server
# enabled in the plugin's settings a TCP client on 127.0.0.1:9001 reads the snapshot line.
# Usage: obs-text-server.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-text.XXXXXX)
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60; exit 1; }

# Nothing else may hold the port, or the check below would read someone else's server.
if (exec 3<>/dev/tcp/127.0.0.1/9001) 2>/dev/null; then
  fail "port 9001 is already in use on this machine"
fi

home="$work/home"
obs_session_write_settings "$home" "{ \"server_enabled\": true, \"portal_url\": \"$OBS_SESSION_OFFLINE_PORTAL\" }"
obs_session_write_score_scene "$home" '{ "template": "Home {home_score} - {away_score} Away" }' 10 10

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
# The server starts with the plugin's work that waits for OBS to finish loading.
obs_session_wait_log "[corvane] hosted server listening on port 9001" 60 || { obs_session_stop; fail "the server did not start"; }

log=$OBS_SESSION_LOG
problems=""
grep -qF -- "- source: 'Score' (corvane_text)" "$log" || problems+=" the scene does not list the corvane_text source;"
if grep -E "corvane_text.*not found|Failed to create source|no OBS text source" "$log"; then
  problems+=" OBS could not create the source;"
fi
if grep -F "[corvane] Could not listen" "$log"; then problems+=" the server did not start;"; fi

# The snapshot arrives on connection, and "get" answers with the same line.
line="" answer=""
if exec 3<>/dev/tcp/127.0.0.1/9001; then
  IFS= read -r -t 10 line <&3 || true
  printf 'get\n' >&3
  IFS= read -r -t 10 answer <&3 || true
  exec 3<&- 3>&-
else
  problems+=" nothing listens on 127.0.0.1:9001;"
fi
expected='{"fields":{},"source":"","sport":"","updated_at":""}'
[ "$line" = "$expected" ] || problems+=" first line was '$line';"
[ "$answer" = "$expected" ] || problems+=" the answer to get was '$answer';"

obs_session_stop
status=$?
log=$OBS_SESSION_LOG
[ -z "$problems" ] || fail "$problems"
[ "$status" -eq 0 ] || fail "OBS exited with status $status"
grep -qF "[corvane] plugin unloaded" "$log" || fail "no unload line"
grep -qF "Number of memory leaks: 0" "$log" || fail "libobs reported leaks or did not finish shutting down"
echo "PASS: OBS loaded a scene with corvane_text and served the snapshot on 127.0.0.1:9001; log $log"
rm -rf "$work"
