#!/usr/bin/env bash
# Real OBS with obs-websocket enabled on a free port and the plugin signed in to the portal
# simulator: a WebSocket client (obsws.py) identifies with obs-websocket 5's protocol,
# calls each of the "corvane" vendor's requests through "CallVendorRequest", subscribes to
# vendor events and receives "LiveDataChanged" with the simulator's score and
# "StatusChanged"; then OBS quits cleanly with no leaks reported.
# Usage: obs-websocket.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-ws.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60
  cleanup_sim
  exit 1
}

cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "solo@example.com=$cookie" || fail "the portal simulator did not start"

ws_port=$(obs_session_free_port)
home="$work/home"
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\" }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_enable_websocket "$home" "$ws_port"

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }

problems=$(python3 - "$ws_port" "$portal" "$cookie" "$work/summary" "$src/tests/e2e" <<'PY'
import json, sys, time, urllib.request

port, portal, cookie = int(sys.argv[1]), sys.argv[2], sys.argv[3]
sys.path.insert(0, sys.argv[5])
from obsws import ready_client

problems = []
client = ready_client(port, 1 << 9)  # Vendors events
events = client.events

def call(request, data=None):
    status, response = client.request("CallVendorRequest",
                                      {"vendorName": "corvane", "requestType": request, "requestData": data or {}})
    if not status.get("result"):
        problems.append("%s failed: %r" % (request, status))
        return {}
    return response.get("responseData", {})

def simulator_state():
    req = urllib.request.Request(portal + "/devices/CV-4001/state", headers={"Cookie": "corvane_session=" + cookie})
    return json.load(urllib.request.urlopen(req, timeout=10))

status = {}
for _ in range(30):
    status = call("GetStatus")
    if status.get("live"):
        break
    time.sleep(1)
expect = {"ok": True, "signed_in": True, "account": "solo@example.com", "device": "CV-4001", "live": True,
          "message": "Live from CV-4001"}
for k, v in expect.items():
    if status.get(k) != v:
        problems.append("GetStatus %s is %r, not %r" % (k, status.get(k), v))

snapshot = call("GetLiveData")
sim = simulator_state()
fields, simf = snapshot.get("fields", {}), sim.get("fields", {})
if snapshot.get("source") != "CV-4001" or "ok" in snapshot:
    problems.append("GetLiveData %r" % snapshot)
for k in ("home_name", "away_name"):
    if fields.get(k) != str(simf.get(k)):
        problems.append("GetLiveData %s %r vs simulator %r" % (k, fields.get(k), simf.get(k)))

devices = call("ListDevices")
if devices.get("ok") is not True or [d.get("id") for d in devices.get("devices", [])] != ["CV-4001"]:
    problems.append("ListDevices %r" % devices)
refused = call("SelectDevice", {"deviceId": "CV-0000"})
if refused != {"ok": False, "error": "unknown_device"}:
    problems.append("SelectDevice of an unknown device %r" % refused)
chosen = call("SelectDevice", {"deviceId": "CV-4001"})
if chosen != {"ok": True, "device": "CV-4001"}:
    problems.append("SelectDevice %r" % chosen)

# Nothing followed beside the main device: the list holds it alone, and another id is refused.
followed = call("ListFollowedDevices")
if followed.get("ok") is not True or [(d.get("id"), d.get("route"), d.get("main")) for d in followed.get("devices", [])] != [
        ("CV-4001", "cloud", True)]:
    problems.append("ListFollowedDevices %r" % followed)
for request in ("GetLiveData", "GetStatus"):
    refused = call(request, {"deviceId": "CV-0000"})
    if refused != {"ok": False, "error": "unknown_device"}:
        problems.append("%s for a device not followed %r" % (request, refused))

# Choosing the device again restarts its route: the status changes, and live updates follow.
deadline = time.time() + 30
def vendor_events(kind):
    return [e["eventData"]["eventData"] for e in events
            if e.get("eventType") == "VendorEvent" and e["eventData"].get("vendorName") == "corvane"
            and e["eventData"].get("eventType") == kind]
while time.time() < deadline and not (vendor_events("StatusChanged") and
                                      any(d.get("fields", {}).get("home_name") for d in vendor_events("LiveDataChanged"))):
    message = client.ws.receive()
    if message.get("op") == 5:
        events.append(message["d"])
live = [d for d in vendor_events("LiveDataChanged") if d.get("fields", {}).get("home_name")]
if not live:
    problems.append("no LiveDataChanged with fields among %d events" % len(events))
else:
    sim = simulator_state()
    last = live[-1]
    if last.get("source") != "CV-4001" or last["fields"].get("home_name") != str(sim["fields"].get("home_name")):
        problems.append("LiveDataChanged %r vs simulator %r" % (last, sim))
    try:
        if not 0 <= int(sim["fields"]["home_score"]) - int(last["fields"]["home_score"]) <= 2:
            problems.append("LiveDataChanged home_score %r vs simulator %r" % (last["fields"]["home_score"], sim["fields"]["home_score"]))
    except (KeyError, TypeError, ValueError) as e:
        problems.append("LiveDataChanged score unreadable: %s" % e)
if not any("live" in d and "message" in d for d in vendor_events("StatusChanged")):
    problems.append("no StatusChanged event")
with open(sys.argv[4], "w") as summary:
    summary.write("%d LiveDataChanged (last %s), %d StatusChanged" % (
        len(vendor_events("LiveDataChanged")), json.dumps(live[-1] if live else None), len(vendor_events("StatusChanged"))))
print("; ".join(problems))
PY
) || problems="the WebSocket client failed: $problems"

obs_session_stop
rc=$?
cleanup_sim
[ -z "$problems" ] || fail "$problems"
[ "$rc" -eq 0 ] || fail "OBS exited with status $rc"
grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || fail "no unload line"
grep -qF "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "OBS reported leaks"
echo "PASS: obs-websocket client called every corvane vendor request; events: $(cat "$work/summary")"
