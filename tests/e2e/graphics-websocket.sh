#!/usr/bin/env bash
# Real OBS with obs-websocket, a stand-in browser source and a scene holding a Corvane
# graphics source, signed in to the portal simulator. obs-websocket clients list the
# source's outputs ("GetInputPropertiesListPropertyItems") and press its "Refresh" button
# ("PressInputPropertiesButton"), which obs-websocket does on its own threads: from two
# connections at once while refreshes replace the outputs and the portal refuses some.
# Every list must be whole, presses during a fetch must start no other, OBS's log must name
# the thread that called, and OBS must quit cleanly with no leaks reported.
# Usage: graphics-websocket.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-graphics-ws.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60
  cleanup_sim
  exit 1
}

standin="$build/tests/e2e/corvane-test-browser.so"
[ -f "$standin" ] || fail "the stand-in browser source is not built ($standin)"

cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "operator@example.com=$cookie" || fail "the portal simulator did not start"

ws_port=$(obs_session_free_port)
home="$work/home"
config="$home/.config/obs-studio"
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\" }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_enable_websocket "$home" "$ws_port"
# The plugin's debug lines say which thread called.
OBS_SESSION_ARGS="$OBS_SESSION_ARGS --verbose"
mkdir -p "$config/plugins/corvane-test-browser/bin/64bit" "$config/plugins/corvane-test-browser/data"
cp "$standin" "$config/plugins/corvane-test-browser/bin/64bit/"
obs_session_write_scene "$home" corvane_graphics "Corvane graphics" '{ "output_id": "out-main", "output_name": "Main scorebug",
  "url": "http://127.0.0.1:9/graphics/o/tok-main", "width": 1920, "height": 1080 }'

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
if grep -qF "[corvane] this OBS has no browser source" "$OBS_SESSION_LOG"; then
  obs_session_stop; fail "the stand-in browser source was not loaded"
fi

problems=$(python3 - "$ws_port" "$portal" "$src/tests/e2e" <<'PY'
import json, sys, threading, time, urllib.request

port, portal = int(sys.argv[1]), sys.argv[2]
sys.path.insert(0, sys.argv[3])
from obsws import Client, ready_client

problems = []
source = {"inputName": "Corvane graphics"}
expected = [{"itemName": "Main scorebug", "itemValue": "out-main", "itemEnabled": True},
            {"itemName": "out-lower", "itemValue": "out-lower", "itemEnabled": True}]

def simulator(path, body=None):
    data = None if body is None else json.dumps(body).encode()
    request = urllib.request.Request(portal + path, data=data, headers={"Content-Type": "application/json"})
    return json.load(urllib.request.urlopen(request, timeout=10))

def output_requests():
    return sum(1 for r in simulator("/_sim/requests")["requests"] if r.get("target") == "/api/graphics/outputs")

def items(client):
    status, data = client.request("GetInputPropertiesListPropertyItems", dict(source, propertyName="output_id"))
    return status, data.get("propertyItems")

def press(client):
    status, _ = client.request("PressInputPropertiesButton", dict(source, propertyName="refresh"))
    return status

client = ready_client(port)
# The restored sign-in fetches the outputs by itself.
got = None
for _ in range(60):
    status, got = items(client)
    if got == expected:
        break
    time.sleep(0.5)
else:
    problems.append("the list never showed the account's outputs: %r" % (got,))

# Presses while a slow fetch is under way join it: one request for three presses.
simulator("/_sim/behaviour", {"delay_ms": 1500, "path": "/api/graphics", "times": 1})
before = output_requests()
for _ in range(3):
    status = press(client)
    if not status.get("result"):
        problems.append("PressInputPropertiesButton failed: %r" % status)
time.sleep(3)  # the slow answer lands meanwhile
if output_requests() != before + 1:
    problems.append("three presses during one fetch made %d requests" % (output_requests() - before))

# Two connections list while a third presses "Refresh" and the portal now and then refuses.
errors = []
def lister():
    c = Client(port)
    for _ in range(150):
        status, got = items(c)
        if not status.get("result") or got != expected:
            errors.append("list: %r %r" % (status, got))
    c.close()
def presser():
    c = Client(port)
    for _ in range(40):
        status = press(c)
        if not status.get("result"):
            errors.append("press: %r" % status)
    c.close()
threads = [threading.Thread(target=f) for f in (lister, lister, presser)]
for t in threads:
    t.start()
for i in range(20):
    simulator("/_sim/behaviour", {"status": 402, "path": "/api/graphics", "times": 1} if i % 2 else {})
    time.sleep(0.1)
for t in threads:
    t.join()
problems += errors[:5]
status, got = items(client)
if got != expected:
    problems.append("after the presses the list is %r" % (got,))
client.close()
print("; ".join(problems))
PY
) || problems="the WebSocket client failed: $problems"

obs_session_stop
rc=$?
cleanup_sim
[ -z "$problems" ] || fail "$problems"
[ "$rc" -eq 0 ] || fail "OBS exited with status $rc"
log=$OBS_SESSION_LOG
grep -qF "[corvane] plugin unloaded" "$log" || fail "no unload line"
grep -qF "Number of memory leaks: 0" "$log" || fail "OBS reported leaks"
# obs-websocket calls the source from its own threads, not OBS's user-interface thread.
listed_on=$(grep -oE '\[corvane\] graphics properties asked for on thread "[^"]*", not the user-interface thread' "$log" | head -n 1)
pressed_on=$(grep -oE '\[corvane\] graphics refresh pressed on thread "[^"]*"' "$log" | head -n 1)
[ -n "$listed_on" ] || fail "no log line names the thread that asked for the properties"
[ -n "$pressed_on" ] || fail "no log line names the thread that pressed Refresh"
echo "PASS: obs-websocket listed and refreshed a Corvane graphics source from its own threads ($listed_on; $pressed_on)"
rm -rf "$work"
