#!/usr/bin/env bash
# Real OBS signed in to the portal simulator through a stored session: the plugin restores
# the sign-in, picks the account's only device and polls its live state; a corvane_text
# source shows the score, and the hosted server on 127.0.0.1:9001 serves the same fields.
# Usage: obs-live-score.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-live.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60
  cleanup_sim
  exit 1
}

if (exec 3<>/dev/tcp/127.0.0.1/9001) 2>/dev/null; then
  fail "port 9001 is already in use on this machine"
fi

# The simulator with a sign-in made in advance for the single-device account.
cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "solo@example.com=$cookie" || fail "the portal simulator did not start"

home="$work/home"
obs_session_write_settings "$home" "{ \"server_enabled\": true, \"portal_url\": \"$portal\" }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_write_score_scene "$home" '{ "template": "{home_name} {home_score} - {away_score} {away_name}" }' 40 40

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log "[corvane] loading plugin 1.0.1" 60 || { obs_session_stop; fail "no load line"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }

# Ask the hosted server for its status until the route is live, then read a snapshot.
ask() { # op -> one answer line
  local reply=""
  exec 3<>/dev/tcp/127.0.0.1/9001 || return 1
  IFS= read -r -t 10 _ <&3 || true # the snapshot sent on connection
  printf '{"op":"%s"}\n' "$1" >&3
  IFS= read -r -t 10 reply <&3 || true
  exec 3<&- 3>&-
  printf '%s\n' "$reply"
}
status="" snapshot=""
for _ in $(seq 1 30); do
  status=$(ask status) || true
  case "$status" in *'"live":true'*) break ;; esac
  sleep 1
done
snapshot=$(ask get) || true
sim_state=$(python3 - "$portal" "$cookie" <<'PY'
import json, sys, urllib.request
req = urllib.request.Request(sys.argv[1] + "/devices/CV-4001/state", headers={"Cookie": "corvane_session=" + sys.argv[2]})
print(json.dumps(json.load(urllib.request.urlopen(req, timeout=10))))
PY
) || sim_state=""
problems=$(python3 - "$status" "$snapshot" "$sim_state" <<'PY'
import json, sys
problems = []
try:
    status, snap, sim = (json.loads(a) for a in sys.argv[1:4])
except ValueError as e:
    print("unreadable answers (%s): %r" % (e, sys.argv[1:4])); sys.exit()
expect = {"signed_in": True, "account": "solo@example.com", "device": "CV-4001", "source": "CV-4001",
          "live": True, "message": "Live from CV-4001", "sport": "basketball"}
for k, v in expect.items():
    if status.get(k) != v: problems.append("status %s is %r, not %r" % (k, status.get(k), v))
fields, simf = snap.get("fields", {}), sim.get("fields", {})
if snap.get("source") != "CV-4001": problems.append("snapshot source %r" % snap.get("source"))
if snap.get("sport") != sim.get("sport"): problems.append("sport %r vs %r" % (snap.get("sport"), sim.get("sport")))
for k in ("home_name", "away_name", "period"):
    if fields.get(k) != str(simf.get(k)): problems.append("%s %r vs simulator %r" % (k, fields.get(k), simf.get(k)))
# The game moves on between the two reads: scores only grow, and not by much in a second or two.
for k in ("home_score", "away_score"):
    try:
        ours, theirs = int(fields.get(k)), int(simf.get(k))
        if not (0 <= theirs - ours <= 2): problems.append("%s %d vs simulator %d" % (k, ours, theirs))
    except (TypeError, ValueError):
        problems.append("%s %r is not a number" % (k, fields.get(k)))
print("; ".join(problems))
PY
)
sleep 1
obs_session_screenshot "$work/live-score.png" || problems+=" no screenshot;"

obs_session_stop
rc=$?
cleanup_sim
[ -z "$problems" ] || fail "$problems (status $status, snapshot $snapshot, simulator $sim_state)"
[ "$rc" -eq 0 ] || fail "OBS exited with status $rc"
grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || fail "no unload line"
echo "PASS: OBS restored the sign-in, picked CV-4001 and showed its live score ($snapshot); screenshot $work/live-score.png"
