#!/usr/bin/env bash
# Real OBS with the download service at corvane-update-sim and automatic checks on: the
# background check 20 s after start fetches the manifest, finds version 1.0.2 and stores
# last_update_check; the *.old files an earlier update left in the plugin's folder are gone
# after the next start.
# Usage: obs-update-check.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-update.XXXXXX)
sim_pid=""
stop_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
trap stop_sim EXIT
fail() { echo "FAIL: $*"; [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40; exit 1; }

"$build/tools/updatesim/corvane-update-sim" --plugin "$build/plugin/corvane-obs.so" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 1 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
url=$(head -n 1 "$work/sim.out")
case "$url" in http://127.0.0.1:*) ;; *) fail "the update simulator did not start: $url" ;; esac

home="$work/home"
settings="$home/.config/obs-studio/plugin_config/corvane-obs/settings.json"
plugin_dir="$home/.config/obs-studio/plugins/corvane-obs"
obs_session_write_settings "$home" "{ \"portal_url\": \"$OBS_SESSION_OFFLINE_PORTAL\", \"downloads_url\": \"$url\", \"auto_check_updates\": true }"

started=$(date +%s)
obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
for _ in $(seq 1 600); do
  grep -q '"last_update_check"' "$settings" 2>/dev/null && break
  sleep 0.1
done
obs_session_stop || fail "OBS did not quit cleanly"
grep -qF "request GET /downloads/obs/latest.json" "$work/sim.out" || fail "the plugin never asked for the manifest"
if grep -qF "request GET /downloads/obs/corvane-obs-" "$work/sim.out"; then fail "a background check downloaded the package"; fi
stamp=$(sed -n 's/.*"last_update_check": *\([0-9]*\).*/\1/p' "$settings")
[ -n "$stamp" ] || fail "last_update_check was not stored: $(cat "$settings")"
[ "$stamp" -ge "$started" ] && [ "$stamp" -le "$(date +%s)" ] || fail "last_update_check $stamp is not the time of the check"
checked_after=$((stamp - started))

# Leftovers of an earlier update beside the files it replaced; the next start removes them.
touch "$plugin_dir/bin/64bit/corvane-obs.so.old" "$plugin_dir/data/locale/en-US.ini.old"
# The session helpers read the newest log; the first run's must not answer for the second.
mv "$home/.config/obs-studio/logs" "$work/first-run-logs"
obs_session_start "$work" "$build" || fail "OBS did not start a second time"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line at the second start"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting again"; }
obs_session_stop || fail "OBS did not quit cleanly the second time"
left=$(find "$plugin_dir" -name '*.old')
[ -z "$left" ] || fail "*.old files left after the next start: $left"
[ -f "$plugin_dir/bin/64bit/corvane-obs.so" ] || fail "the plugin library is gone"
echo "PASS: the background check fetched the manifest and stored last_update_check ${checked_after} s after start; *.old files removed at the next start"
rm -rf "$work"
