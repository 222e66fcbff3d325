#!/usr/bin/env bash
# Real OBS producing a game from the portal simulator's live scores:
#  1. a 15 s Hybrid MP4 recording gets a chapter per change of score or period, named as
#     the scores obs-websocket's clients were sent (ffprobe -show_chapters), and the same
#     changes in the .scores.txt beside it;
#  2. the hotkeys, pressed on the X keyboard with bindings in the profile as OBS's settings
#     window saves them: "Add a chapter marker now" adds one to that recording, "Hold live
#     scores" stops the scores going out while the simulator keeps scoring, "Resume live
#     scores" sends the latest at once;
#  3. a red arrow image with a "show when possession = home" filter is drawn (read from the
#     scene's screenshot) exactly while the simulator gives the home side the ball;
#  4. OBS restarted, recording Matroska: the bindings are still there ("Show or hide
#     Corvane sources" hides the score text), a recording without chapters still gets its
#     game log, and with the simulator gone and no live data each filter shows or hides as
#     its "no scores" choice says.
# Usage: obs-game-production.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-game.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -60
  cleanup_sim
  exit 1
}
command -v ffprobe >/dev/null || fail "ffprobe is not installed (Debian package ffmpeg)"
command -v convert >/dev/null || fail "convert is not installed (Debian package imagemagick)"

cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "solo@example.com=$cookie" || fail "no portal simulator"
ws_port=$(obs_session_free_port)
home="$work/home" rec="$work/recordings"
mkdir -p "$rec" "$build/e2e"
# Every change a chapter, however close (obs-recording-files.sh runs the default spacing).
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\", \"chapter_spacing_s\": 0 }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_enable_websocket "$home" "$ws_port"

# The profile: a small canvas, Hybrid MP4 with x264, and our hotkeys' bindings written the
# way OBS's Settings > Hotkeys saves them.
profile="$home/.config/obs-studio/basic/profiles/Untitled"
obs_session_write_profile "$home" <<INI
[Output]
Mode=Simple

[SimpleOutput]
FilePath=$rec
RecFormat2=hybrid_mp4
RecQuality=Stream
StreamEncoder=x264
RecEncoder=x264

[Hotkeys]
corvane.hold_scores={"bindings":[{"key":"OBS_KEY_F9"}]}
corvane.resume_scores={"bindings":[{"key":"OBS_KEY_F10"}]}
corvane.toggle_sources={"bindings":[{"key":"OBS_KEY_F11"}]}
corvane.add_chapter={"bindings":[{"key":"OBS_KEY_F12"}]}
INI

# One scene on a dark ground: the score text, a red arrow image shown while the home side
# has the ball (hidden without scores) and a green light whose condition never holds (shown
# without scores).
scenes="$home/.config/obs-studio/basic/scenes"
mkdir -p "$scenes"
convert -size 200x200 xc:none -fill '#FF0000' \
  -draw 'polygon 190,70 90,70 90,20 10,100 90,180 90,130 190,130' "$work/arrow.png" || fail "could not draw the arrow"
item() { # name id x y
  printf '{ "name": "%s", "id": %d, "visible": true, "locked": false, "pos": { "x": %d, "y": %d }, "scale": { "x": 1.0, "y": 1.0 }, "rot": 0.0, "align": 5, "bounds_type": 0, "bounds": { "x": 0.0, "y": 0.0 }, "bounds_align": 0 }' "$@"
}
show_when() { # field value no_scores
  printf '"filters": [ { "id": "corvane_show_when", "versioned_id": "corvane_show_when", "name": "Show when", "settings": { "field_1": "%s", "op_1": "eq", "value_1": "%s", "no_scores": "%s" } } ]' "$@"
}
cat >"$scenes/Untitled.json" <<JSON
{
  "name": "Untitled", "current_scene": "Scene", "current_program_scene": "Scene",
  "scene_order": [{ "name": "Scene" }],
  "sources": [
    { "id": "scene", "versioned_id": "scene", "name": "Scene",
      "settings": { "id_counter": 4,
                    "items": [ $(item Ground 4 0 0), $(item Score 1 20 20), $(item Arrow 2 400 100), $(item Light 3 60 200) ] } },
    { "id": "color_source", "versioned_id": "color_source_v3", "name": "Ground",
      "settings": { "color": 4281870368, "width": 640, "height": 360 } },
    { "id": "corvane_text", "versioned_id": "corvane_text", "name": "Score",
      "settings": { "template": "{home_name} {home_score} - {away_score} {away_name}",
                    "font": { "face": "DejaVu Sans", "size": 48 } } },
    { "id": "image_source", "versioned_id": "image_source", "name": "Arrow",
      "settings": { "file": "$work/arrow.png" }, $(show_when possession home hide) },
    { "id": "color_source", "versioned_id": "color_source_v3", "name": "Light",
      "settings": { "color": 4278255360, "width": 120, "height": 120 }, $(show_when possession nobody show) }
  ],
  "transitions": [], "groups": []
}
JSON

# Runs a Python driver against the running OBS; prints its problems, one a line.
drive() { # phase
  python3 - "$ws_port" "$work" "$src/tests/e2e" "$1" "$sim_pid" "$build/e2e/game-production.png" <<'PY'
import json, os, re, subprocess, sys, time

port, work, here, phase = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
sys.path.insert(0, here)
from obsws import ready_client
import xkeys

problems = []
client = ready_client(port, 1 << 9)  # vendor events

def request(kind, data=None):
    status, response = client.request(kind, data)
    if not status.get("result"):
        problems.append("%s failed: %r" % (kind, status))
    return response

def vendor(kind, data=None):
    return request("CallVendorRequest", {"vendorName": "corvane", "requestType": kind,
                                         "requestData": data or {}}).get("responseData", {})

def pump(seconds):
    """Waits, taking in events, and returns those that came meanwhile."""
    start = len(client.events)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        client.request("GetVersion")
        time.sleep(0.1)
    return [e for e in client.events[start:] if e.get("eventType") == "VendorEvent"
            and e["eventData"].get("eventType") == "LiveDataChanged"]

def pixel(x, y):
    path = os.path.join(work, "shot-%d.png" % time.monotonic_ns())
    request("SaveSourceScreenshot", {"sourceName": "Scene", "imageFormat": "png", "imageFilePath": path})
    out = subprocess.run(["convert", path, "-crop", "1x1+%d+%d" % (x, y), "txt:-"], capture_output=True, text=True).stdout
    m = re.search(r"#([0-9A-Fa-f]{6})", out)
    return m.group(1).upper() if m else "?"

def shown(x, y, colour):
    return pixel(x, y).startswith(colour)

def render(fields):
    return "%s %s\u2013%s %s \u00b7 %s" % (fields.get("home_name", ""), fields.get("home_score", ""),
                                          fields.get("away_score", ""), fields.get("away_name", ""), fields.get("period", ""))

def record(seconds, chapter_key_at=None):
    """Records for `seconds`, pressing "Add a chapter marker now" `chapter_key_at` seconds in."""
    events = []
    request("StartRecord")
    if chapter_key_at is not None:
        events += pump(chapter_key_at)
        xkeys.press("F12")
        seconds -= chapter_key_at
    events += pump(seconds)
    path = request("StopRecord").get("outputPath", "")
    events += pump(3)  # the log is written when OBS reports the stop
    return path, events

def log_lines(path):
    base = os.path.splitext(path)[0] + ".scores.txt"
    if not os.path.exists(base):
        problems.append("no game log beside %s" % path)
        return []
    lines = open(base, encoding="utf-8").read().splitlines()
    for line in lines:
        if not re.match(r"^\d+:\d\d:\d\d \S", line):
            problems.append("game log line %r is not H:MM:SS text" % line)
    return [line.split(" ", 1)[1] for line in lines]

def chapters(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_chapters", "-of", "json", path],
                         capture_output=True, text=True).stdout
    return [c.get("tags", {}).get("title", "") for c in json.loads(out or "{}").get("chapters", [])]

if phase == "live":
    # Live first: the route is up once the scores are there.
    for _ in range(60):
        if vendor("GetLiveData").get("fields", {}).get("home_score"):
            break
        time.sleep(1)
    else:
        problems.append("no live data from the simulator")

    # 1. Hybrid MP4 with chapters, named as the scores that went out.
    sent = {render(vendor("GetLiveData").get("fields", {}))}
    path, events = record(15, chapter_key_at=7)
    sent |= {render(e["eventData"]["eventData"].get("fields", {})) for e in events}
    names = [n for n in chapters(path)]
    if names and names[0] == "Start":  # the muxer's own chapter at 0 before ours
        names = names[1:]
    logged = log_lines(path)
    if len(logged) < 3:
        problems.append("only %d changes logged in 15 s: %r" % (len(logged), logged))
    if names != logged:
        problems.append("chapters %r differ from the game log %r" % (names, logged))
    # Score changes never repeat the last chapter's name; the key's chapter does.
    if not any(a == b for a, b in zip(logged, logged[1:])):
        problems.append("no chapter from the \"Add a chapter marker now\" key: %r" % logged)
    for name in logged:
        if name not in sent:
            problems.append("chapter %r matches no score that was sent (%r)" % (name, sorted(sent)))

    # 2. Hold and resume through the keyboard: the clock alone changes the data every second.
    last = pump(2)
    xkeys.press("F9")
    pump(1.5)  # what was on its way before the press
    held = pump(6)
    if held:
        problems.append("%d score updates went out while held" % len(held))
    xkeys.press("F10")
    resumed = pump(1.5)
    if not last or not resumed:
        problems.append("no updates around the hold: %d before, %d on resuming" % (len(last), len(resumed)))
    elif resumed[0]["eventData"]["eventData"]["fields"].get("clock") == last[-1]["eventData"]["eventData"]["fields"].get("clock"):
        problems.append("resuming sent the held state, not the latest")

    # 3. The arrow is drawn exactly while the home side has the ball; one such picture is
    # kept for the README.
    seen = {}
    picture = sys.argv[6]
    for _ in range(14):
        first = vendor("GetLiveData").get("fields", {}).get("possession")
        drawn = shown(500, 200, "FF0000")
        last = vendor("GetLiveData").get("fields", {}).get("possession")
        if first == last and first in ("home", "away"):
            seen[first] = seen.get(first, 0) + 1
            if drawn and first == "home" and picture:
                request("SaveSourceScreenshot", {"sourceName": "Scene", "imageFormat": "png", "imageFilePath": picture})
                picture = ""
            if drawn != (first == "home"):
                problems.append("arrow %s while possession is %s" % ("drawn" if drawn else "hidden", first))
        if shown(120, 260, "00FF00"):
            problems.append("the green light is drawn although its condition never holds")
        time.sleep(0.8)
    if len(seen) < 2:
        problems.append("the possession never changed hands while watched: %r" % seen)
else:
    # 4. After the restart: the bindings, a recording without chapters, then no live data.
    for _ in range(60):
        if vendor("GetLiveData").get("fields", {}).get("home_score"):
            break
        time.sleep(1)
    def score_enabled():
        item = request("GetSceneItemId", {"sceneName": "Scene", "sourceName": "Score"}).get("sceneItemId")
        return request("GetSceneItemEnabled", {"sceneName": "Scene", "sceneItemId": item}).get("sceneItemEnabled")
    if not score_enabled():
        problems.append("the score text starts hidden")
    xkeys.press("F11")
    time.sleep(1)
    if score_enabled():
        problems.append("the saved binding of \"Show or hide Corvane sources\" did nothing after the restart")
    xkeys.press("F11")
    time.sleep(1)
    if not score_enabled():
        problems.append("a second press did not show the score text again")

    path, _ = record(8)
    if chapters(path):
        problems.append("a Matroska recording has chapters: %r" % chapters(path))
    if not log_lines(path):
        problems.append("the Matroska recording's game log is empty")

    # The simulator goes; choosing the device again starts from no data, which stays.
    os.kill(int(sys.argv[5]), 15)
    vendor("SelectDevice", {"deviceId": "CV-4001"})
    time.sleep(3)
    if vendor("GetLiveData").get("fields"):
        problems.append("live data although the portal is gone")
    if shown(500, 200, "FF0000"):
        problems.append("the arrow is drawn without scores (chosen: hide)")
    if not shown(120, 260, "00FF00"):
        problems.append("the light is hidden without scores (chosen: show)")
client.close()
print("\n".join(problems))
PY
}

obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
problems=$(drive live 2>&1)
obs_session_stop; status=$?
[ -z "$problems" ] || fail "$problems"
[ "$status" = 0 ] || fail "OBS did not quit cleanly (status $status)"
grep -q '^corvane.toggle_sources=.*OBS_KEY_F11' "$profile/basic.ini" || fail "the binding is gone from the profile after OBS quit"

# The second start, recording Matroska.
sed -i 's/^RecFormat2=.*/RecFormat2=mkv/' "$profile/basic.ini"
obs_session_start "$work" "$build" || fail "OBS did not start again"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
obs_session_wait_log "Switched to scene" 60 || { obs_session_stop; fail "OBS did not finish starting"; }
problems=$(drive restart 2>&1)
# The driver ends the simulator itself, unless it stopped before that step.
cleanup_sim
obs_session_stop; status=$?
[ -z "$problems" ] || fail "$problems"
[ "$status" = 0 ] || fail "OBS did not quit cleanly the second time (status $status)"
grep -q "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "OBS reported leaks"
echo "PASS: chapters, game log, hotkeys across a restart and the show-when filter in real OBS"
