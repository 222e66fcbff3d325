#!/usr/bin/env bash
# Real OBS signed in to the portal simulator, with two devices: CV-1001 as the main device
# and "gym/court 2", which plays its own game, followed beside it (settings.json). Two score
# texts, one bound to each device, must each show their own device's game: each is compared,
# pixel for pixel through obs-websocket's source screenshots, with an OBS text source showing
# the text the portal simulator's state for that device gives.
# Usage: obs-two-devices.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-two.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60
  cleanup_sim
  exit 1
}

cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "operator@example.com=$cookie" || fail "the portal simulator did not start"

ws_port=$(obs_session_free_port)
home="$work/home"
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\", \"selected_device\": \"CV-1001\",
  \"followed_devices\": [ { \"device\": \"gym/court 2\", \"route\": \"cloud\" } ] }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_enable_websocket "$home" "$ws_port"

# One scene with two score texts: the main device's (no Device setting, as every existing
# scene has) and the followed court's.
template='{home_name} {home_score} - {away_score} {away_name}'
mkdir -p "$home/.config/obs-studio/basic/scenes"
cat >"$home/.config/obs-studio/basic/scenes/Untitled.json" <<JSON
{
  "name": "Untitled", "current_scene": "Scene", "current_program_scene": "Scene",
  "scene_order": [{ "name": "Scene" }],
  "sources": [
    { "id": "scene", "versioned_id": "scene", "name": "Scene",
      "settings": { "id_counter": 2, "items": [
        { "name": "Main score", "id": 1, "visible": true, "locked": false, "pos": { "x": 20, "y": 20 },
          "scale": { "x": 1.0, "y": 1.0 }, "rot": 0.0, "align": 5, "bounds_type": 0, "bounds": { "x": 0.0, "y": 0.0 }, "bounds_align": 0 },
        { "name": "Court 2 score", "id": 2, "visible": true, "locked": false, "pos": { "x": 20, "y": 120 },
          "scale": { "x": 1.0, "y": 1.0 }, "rot": 0.0, "align": 5, "bounds_type": 0, "bounds": { "x": 0.0, "y": 0.0 }, "bounds_align": 0 } ] } },
    { "id": "corvane_text", "versioned_id": "corvane_text", "name": "Main score", "settings": { "template": "$template" } },
    { "id": "corvane_text", "versioned_id": "corvane_text", "name": "Court 2 score",
      "settings": { "template": "$template", "device": "gym/court 2" } }
  ],
  "transitions": [], "groups": []
}
JSON

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }

problems=$(python3 - "$ws_port" "$portal" "$cookie" "$template" "$work/summary" "$src/tests/e2e" <<'PY'
import json, sys, time, urllib.parse, urllib.request

port, portal, cookie, template = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
sys.path.insert(0, sys.argv[6])
from obsws import ready_client

problems = []
client = ready_client(port)

def call(request, data=None):
    status, response = client.request("CallVendorRequest",
                                      {"vendorName": "corvane", "requestType": request, "requestData": data or {}})
    return response.get("responseData", {}) if status.get("result") else {"failed": status}

def expected_text(device):
    req = urllib.request.Request(portal + "/devices/" + urllib.parse.quote(device, safe="") + "/state",
                                 headers={"Cookie": "corvane_session=" + cookie})
    fields = json.load(urllib.request.urlopen(req, timeout=10)).get("fields", {})
    text = template
    for name in ("home_name", "home_score", "away_score", "away_name"):
        text = text.replace("{%s}" % name, str(fields.get(name, "")))
    return text

def screenshot(name):
    status, response = client.request("GetSourceScreenshot", {"sourceName": name, "imageFormat": "png"})
    return response.get("imageData") if status.get("result") else None

# Both devices live first, through the plugin's own view of them.
for _ in range(40):
    listed = call("ListFollowedDevices").get("devices", [])
    if [(d.get("id"), d.get("live")) for d in listed] == [("CV-1001", True), ("gym/court 2", True)]:
        break
    time.sleep(0.5)
else:
    problems.append("both devices never live: %r" % listed)

# A plain OBS text source beside each score text, given the text its device's game should
# show: the two render alike only when the score text shows exactly that text.
for reference in ("Main expected", "Court 2 expected"):
    status, _ = client.request("CreateInput", {"sceneName": "Scene", "inputName": reference, "inputKind": "text_ft2_source_v2",
                                               "inputSettings": {"text": ""}, "sceneItemEnabled": False})
    if not status.get("result"):
        problems.append("CreateInput %s: %r" % (reference, status))

shown = {}
for device, source, reference in (("CV-1001", "Main score", "Main expected"), ("gym/court 2", "Court 2 score", "Court 2 expected")):
    # The game moves on between the portal's answer and the plugin's next poll: try again
    # until both agree.
    deadline = time.time() + 30
    while time.time() < deadline:
        text = expected_text(device)
        client.request("SetInputSettings", {"inputName": reference, "inputSettings": {"text": text}})
        time.sleep(0.1)
        image = screenshot(source)
        if image and image == screenshot(reference):
            shown[device] = text
            break
        time.sleep(0.3)
    else:
        problems.append("%s never showed %s's game (last expected %r)" % (source, device, text))
if len(shown) == 2 and shown["CV-1001"].split()[0] == shown["gym/court 2"].split()[0]:
    problems.append("the two devices play the same game: %r" % shown)
with open(sys.argv[5], "w") as summary:
    summary.write(json.dumps(shown))
print("; ".join(problems))
PY
) || problems="the WebSocket client failed: $problems"
obs_session_screenshot "$work/two-devices.png" || true

obs_session_stop
rc=$?
cleanup_sim
[ -z "$problems" ] || fail "$problems"
[ "$rc" -eq 0 ] || fail "OBS exited with status $rc"
grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || fail "no unload line"
cp "$work/two-devices.png" "$build/obs-two-devices-last.png" 2>/dev/null
echo "PASS: two score texts showed their own devices' games in OBS: $(cat "$work/summary"); screenshot $build/obs-two-devices-last.png"
rm -rf "$work"
