#!/usr/bin/env bash
# The demo inside the build root: the portal simulator with a venue's account and a stored
# sign-in, OBS filling the screen with the Corvane dock docked beside the preview, the main
# court's live score in the dock and in a large text source, a second court followed beside
# it, a screenshot once both are live, a clean shutdown. Runs inside a D-Bus session (scripts/demo starts one).
set -uo pipefail
. "$(dirname "$0")/common.sh"
need_program obs Xvfb import python3 dbus-run-session
# A D-Bus session of its own carries the accessibility bus that shows the dock.
[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || exec dbus-run-session -- bash "$0" "$@"
. "$(dirname "$0")/obs-session.sh"
out=$1
work=$(mktemp -d /tmp/corvane-demo.XXXXXX)
sim_pid=""
stop_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
trap stop_sim EXIT

say "starting the portal simulator (account operator@example.com: Main gym CV-1001, Court 2 and others)"
cookie="demo-$RANDOM$RANDOM"
obs_session_start_portal build/dev "$work" --session "operator@example.com=$cookie" || die "the portal simulator did not start"
say "portal simulator at $portal"

# The plugin's configuration: the simulator as portal, its sign-in already stored, Main gym
# as the main device and Court 2 followed beside it, the hosted server on so that the demo
# can tell when the scores are live.
home="$work/home"
obs_session_write_settings "$home" "{ \"server_enabled\": true, \"portal_url\": \"$portal\",
  \"selected_device\": \"CV-1001\", \"followed_devices\": [ { \"device\": \"gym/court 2\", \"route\": \"cloud\", \"name\": \"Court 2\" } ] }"
obs_session_store_portal_session "$home" "$cookie"
say "stored a signed-in session for the plugin"
obs_session_write_score_scene "$home" '{ "template": "{home_score} - {away_score}",
  "font": { "face": "Sans Serif", "size": 256, "style": "Bold", "flags": 1 } }' 560 380
say "scene collection: one corvane_text source \"{home_score} - {away_score}\" in a 256-point font"

say "starting OBS Studio with the plugin (display ${DISPLAY:-Xvfb})"
obs_session_display "$work" || die "no X display."
obs_session_accessibility || die "the accessibility bus did not start."
OBS_SESSION_GEOMETRY=1600x1000+0+0 obs_session_start "$work" build/dev || die "OBS could not be started."
obs_session_wait_log "[corvane] loading plugin" 60 || { obs_session_stop; die "OBS did not load the plugin."; }
say "OBS loaded the plugin: $(grep -F '[corvane] loading plugin' "$OBS_SESSION_LOG" | head -1)"
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; die "OBS did not finish starting."; }
say "showing the Corvane dock from OBS's Docks menu and docking it"
python3 scripts/lib/show-dock.py || { obs_session_stop; die "could not show the dock."; }

say "waiting for the live score (hosted server on 127.0.0.1:9001)"
status="" live=""
for _ in $(seq 1 30); do
  if exec 3<>/dev/tcp/127.0.0.1/9001; then
    IFS= read -r -t 5 _ <&3 || true
    printf '{"op":"status"}\n' >&3
    IFS= read -r -t 5 status <&3 || true
    exec 3<&- 3>&-
  fi
  case "$status" in *'"live":true'*) live=yes; break ;; esac
  sleep 1
done
[ -n "$live" ] || { obs_session_stop; die "the score did not go live; last status: $status"; }
say "live: $status"
say "waiting for the followed court's live score"
court2=""
for _ in $(seq 1 30); do
  if exec 3<>/dev/tcp/127.0.0.1/9001; then
    IFS= read -r -t 5 _ <&3 || true
    printf '{"op":"watch","device":"gym/court 2"}\n' >&3
    IFS= read -r -t 5 _ <&3 || true
    IFS= read -r -t 5 court2 <&3 || true
    exec 3<&- 3>&-
  fi
  case "$court2" in *'"fields"'*) break ;; esac
  court2=""
  sleep 1
done
[ -n "$court2" ] || { obs_session_stop; die "the followed court did not go live."; }
say "followed court: $court2"
# The simulated game starts at 0 - 0; give it a few seconds to put points on the board.
snapshot=""
for _ in $(seq 1 15); do
  if exec 3<>/dev/tcp/127.0.0.1/9001; then
    IFS= read -r -t 5 snapshot <&3 || true
    exec 3<&- 3>&-
  fi
  case "$snapshot" in *'"home_score":"0"'*) sleep 1 ;; *) break ;; esac
done
say "score: $snapshot"
sleep 1
obs_session_screenshot "$out" || { obs_session_stop; die "no screenshot."; }
say "screenshot saved"
say "asking OBS to quit"
obs_session_stop || die "OBS did not shut down cleanly (log: $OBS_SESSION_LOG)."
grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || die "OBS quit without unloading the plugin."
say "OBS shut down cleanly: $(grep -F 'Number of memory leaks' "$OBS_SESSION_LOG")"
stop_sim
rm -rf "$work"
