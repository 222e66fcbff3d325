#!/usr/bin/env bash
# Real OBS starts the plugin's work that waits for OBS (App and its server, the Bluetooth
# helper, the obs-websocket vendor) exactly once, whoever asks first: on OBS's first run it
# measures the dock before its window appears; on the next run the dock stays hidden and
# the work waits for OBS's "finished loading". When OBS quits before that event has reached
# the plugin (a preloaded stand-in for the front end's callback calls withholds it), the
# plugin unloads without having started: no crash, no leaks.
# Usage: obs-deferred-start.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-deferred.XXXXXX)
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40; exit 1; }
shim="$build/tests/e2e/libcorvane-e2e-withheld-finished-loading.so"
[ -f "$shim" ] || fail "the front-end stand-in is not built: $shim"

home="$work/home"
obs_session_write_settings "$home" "{ \"portal_url\": \"$OBS_SESSION_OFFLINE_PORTAL\", \"server_enabled\": true, \"server_port\": 9004 }"
started_lines=("[corvane] Bluetooth helper: " "[corvane] obs-websocket vendor \"corvane\" registered" "on port 9004")

# One OBS run: starts, waits until its window is up (and for LINE when given), then two
# seconds more for anything logged twice, and quits.
run() {
  local name=$1 line=$2
  obs_session_start "$work" "$build" || fail "$name: OBS did not start"
  obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "$name: no load line"; }
  obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "$name: OBS did not finish starting"; }
  if [ -n "$line" ]; then
    obs_session_wait_log "$line" 60 || { obs_session_stop; fail "$name: the plugin did not start"; }
  else
    # Finished loading comes a moment after the scene; the plugin would start right after.
    sleep 5
  fi
  sleep 2
  obs_session_stop || fail "$name: OBS did not quit cleanly"
  grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || fail "$name: no unload line"
  grep -qF "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "$name: libobs reported leaks or did not finish shutting down"
}

# Each line of the started work, exactly N times.
expect_started() {
  local name=$1 n=$2 line count
  for line in "${started_lines[@]}"; do
    count=$(grep -cF -- "$line" "$OBS_SESSION_LOG")
    [ "$count" -eq "$n" ] || fail "$name: \"$line\" logged $count times, expected $n"
  done
}

run "first run" "${started_lines[1]}"
expect_started "first run" 1
# OBS 32 keeps the layout in user.ini, older ones in global.ini.
grep -qs '^DockState=' "$home"/.config/obs-studio/{global,user}.ini ||
  fail "OBS saved no dock layout after its first run"

run "second run" "${started_lines[1]}"
expect_started "second run" 1

OBS_SESSION_PRELOAD="$shim" run "finished loading withheld" ""
expect_started "finished loading withheld" 0

echo "PASS: the plugin started once on OBS's first and second run, and unloaded cleanly without starting when OBS quit first"
rm -rf "$work"
