#!/usr/bin/env bash
# Real OBS recording a game from the portal simulator's live scores, the way a game day
# ends and splits files:
#  1. quit: OBS is told to quit (SIGINT) while it records a Hybrid MP4; the file it leaves
#     has a game log beside it whose lines are the file's chapters (ffprobe -show_chapters);
#  2. split: OBS splits the recording by size (1 MB at a constant bitrate, about every
#     10 s); every file gets a log of its own, timed from that file's start and opening
#     at 0:00:00 on the score it began with, and holding the file's chapters.
# Usage: obs-recording-files.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$1 build=$2
. "$src/scripts/lib/obs-session.sh"
work=$(mktemp -d /tmp/corvane-obs-files.XXXXXX)
sim_pid=""
cleanup_sim() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null; sim_pid=""; }
fail() {
  echo "FAIL: $*"
  [ -n "${OBS_SESSION_LOG:-}" ] && grep -E 'corvane|chapter|Changing output file|output file' "$OBS_SESSION_LOG" | sed 's/^/  obs| /' | tail -60
  [ -z "${OBS_SESSION_LOG:-}" ] && tail -20 "$work/obs.out" | sed 's/^/  obs.out| /'
  cleanup_sim
  exit 1
}
command -v ffprobe >/dev/null || fail "ffprobe is not installed (Debian package ffmpeg)"

cookie="e2e-$RANDOM$RANDOM"
obs_session_start_portal "$build" "$work" --session "solo@example.com=$cookie" || fail "no portal simulator"
ws_port=$(obs_session_free_port)
home="$work/home"
obs_session_write_settings "$home" "{ \"portal_url\": \"$portal\" }"
obs_session_store_portal_session "$home" "$cookie"
obs_session_enable_websocket "$home" "$ws_port"
obs_session_write_score_scene "$home" '{ "template": "{home_score} - {away_score}", "font": { "face": "DejaVu Sans", "size": 48 } }' 20 20

# Quitting while recording asks nothing (OBS 32 moves this into its user.ini at the first
# start).
mkdir -p "$home/.config/obs-studio"
cat >"$home/.config/obs-studio/global.ini" <<INI
[General]
FirstRun=true
EnableAutoUpdates=false
ConfirmOnExit=false
LastVersion=503447555
[BasicWindow]
ShowTransitions=true
$OBS_SESSION_GLOBAL_INI_EXTRA
INI

profile="$home/.config/obs-studio/basic/profiles/Untitled"
write_profile() { printf '%s\n' "$1" | obs_session_write_profile "$home"; } # output section

# Runs the Python driver for one phase against the running OBS; prints its problems.
drive() { # phase recordings-folder
  python3 - "$ws_port" "$src/tests/e2e" "$1" "$2" <<'PY'
import glob, json, os, re, subprocess, sys, time

port, here, phase, folder = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
sys.path.insert(0, here)
from obsws import ready_client

problems = []
client = ready_client(port)

def request(kind, data=None):
    status, response = client.request(kind, data)
    if not status.get("result"):
        problems.append("%s failed: %r" % (kind, status))
    return response

def live():
    return request("CallVendorRequest", {"vendorName": "corvane", "requestType": "GetLiveData",
                                         "requestData": {}}).get("responseData", {}).get("fields", {})

for _ in range(60):
    if live().get("home_score"):
        break
    time.sleep(1)
else:
    problems.append("no live data from the simulator")

request("StartRecord")
for _ in range(50):
    if request("GetRecordStatus").get("outputActive"):
        break
    time.sleep(0.2)
time.sleep(14 if phase == "quit" else 34)
if phase == "split":
    request("StopRecord")
    time.sleep(3)
client.close()
print("\n".join(problems))
PY
}

# Compares each recording in FOLDER with its log; prints problems, one a line.
check_files() { # folder expected-files-at-least
  python3 - "$1" "$2" <<'PY'
import glob, json, os, re, subprocess, sys

folder, least = sys.argv[1], int(sys.argv[2])
problems = []
videos = sorted(glob.glob(os.path.join(folder, "*.mp4")))
if len(videos) < least:
    problems.append("%d recordings in %s, expected at least %d: %r" % (len(videos), folder, least, os.listdir(folder)))

def chapters(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_chapters", "-show_format", "-of", "json", path],
                         capture_output=True, text=True).stdout
    data = json.loads(out or "{}")
    names = [(float(c["start_time"]), c.get("tags", {}).get("title", "")) for c in data.get("chapters", [])]
    # The muxer's own chapter at 0 when ours came later.
    if names and names[0][1] == "Start":
        names = names[1:]
    return names, float(data.get("format", {}).get("duration", 0))

for video in videos:
    log = os.path.splitext(video)[0] + ".scores.txt"
    name = os.path.basename(video)
    if not os.path.exists(log):
        problems.append("no game log beside %s" % name)
        continue
    lines = open(log, encoding="utf-8").read().splitlines()
    entries = []
    for line in lines:
        m = re.match(r"^(\d+):(\d\d):(\d\d) (.+)$", line)
        if not m:
            problems.append("%s: line %r is not H:MM:SS text" % (name, line))
            continue
        entries.append((int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)), m.group(4)))
    found, duration = chapters(video)
    if not entries or entries[0][0] != 0:
        problems.append("%s: the log does not open at 0:00:00: %r" % (name, lines))
    if [n for _, n in found] != [n for _, n in entries]:
        problems.append("%s: chapters %r differ from its log %r" % (name, found, lines))
    for seconds, text in entries:
        if seconds > duration + 1:
            problems.append("%s: %r at %d s is past the file's end (%.1f s): timed from another file's start"
                            % (name, text, seconds, duration))
    for (a, _), (b, _) in zip(entries, entries[1:]):
        if b - a < 9:
            problems.append("%s: chapters %d s apart: %r" % (name, b - a, lines))
print("\n".join(problems))
PY
}

# 1. Quit while recording.
quit_dir="$work/quit"
mkdir -p "$quit_dir"
write_profile "[Output]
Mode=Simple

[SimpleOutput]
FilePath=$quit_dir
RecFormat2=hybrid_mp4
RecQuality=Stream
StreamEncoder=x264
RecEncoder=x264"
obs_session_start "$work" "$build" || fail "OBS did not start"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
problems=$(drive quit "$quit_dir" 2>&1)
obs_session_stop; status=$?
[ -z "$problems" ] || fail "$problems"
[ "$status" = 0 ] || fail "OBS did not quit cleanly while recording (status $status)"
problems=$(check_files "$quit_dir" 1)
[ -z "$problems" ] || fail "after quitting while recording: $problems"

# 2. Split by size: about 1 MB every 10 s at 640 kb/s of video and 160 kb/s of audio.
split_dir="$work/split"
mkdir -p "$split_dir"
write_profile "[Output]
Mode=Advanced

[AdvOut]
RecType=Standard
RecFilePath=$split_dir
RecFormat2=hybrid_mp4
RecEncoder=obs_x264
RecTracks=1
RecSplitFile=true
RecSplitFileType=Size
RecSplitFileSize=1"
printf '{ "rate_control": "CBR", "bitrate": 640, "keyint_sec": 1 }\n' >"$profile/recordEncoder.json"
obs_session_start "$work" "$build" || fail "OBS did not start again"
obs_session_wait_log '[corvane] obs-websocket vendor "corvane" registered' 60 || { obs_session_stop; fail "no vendor registered"; }
problems=$(drive split "$split_dir" 2>&1)
cleanup_sim
obs_session_stop; status=$?
[ -z "$problems" ] || fail "$problems"
[ "$status" = 0 ] || fail "OBS did not quit cleanly (status $status)"
problems=$(check_files "$split_dir" 3)
[ -z "$problems" ] || fail "split recording: $problems"
grep -q "Number of memory leaks: 0" "$OBS_SESSION_LOG" || fail "OBS reported leaks"
echo "PASS: a recording cut short by quitting and one split in $(ls "$split_dir"/*.mp4 | wc -l) files each have a game log that matches their chapters"
