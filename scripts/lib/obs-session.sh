# Runs real OBS Studio with the freshly built plugin in a throw-away configuration.
# Sourced by the real-OBS tests and the demo; runs where OBS is installed (the build root).
#
#   obs_session_display WORKDIR          make sure there is an X display (a private Xvfb)
#   obs_session_accessibility            start the accessibility bus, to drive OBS's widgets
#   obs_session_enable_websocket HOME PORT  let OBS's obs-websocket serve on PORT, no password
#   obs_session_start WORKDIR BUILDDIR   prepare WORKDIR/home, install the plugin, start OBS
#   obs_session_wait_log TEXT SECONDS     wait until OBS's log holds TEXT
#   obs_session_screenshot FILE           save the screen as PNG
#   obs_session_stop                      quit OBS as a user would (SIGINT); returns its status
# OBS_SESSION_GLOBAL_INI_EXTRA, when set, is appended to OBS's global.ini before it starts;
# OBS_SESSION_ARGS, when set, adds to OBS's command line. OBS_SESSION_CHROOT, when set, runs
# the OBS installed in that root folder (whose /tmp is this one's) instead of this one's.
# OBS_SESSION_PRELOAD, when set, is preloaded into OBS (LD_PRELOAD), and into nothing else
# the session starts. A later start in the same WORKDIR finds the configuration the earlier
# run saved (its dock layout included), as a user's next start would.
# OBS_SESSION_HOME, OBS_SESSION_PLUGIN_CONFIG and OBS_SESSION_LOG describe the running session.

obs_session_fail() { printf 'error: %s\n' "$*" >&2; return 1; }

# The plugin restores the cloud sign-in at start; unless a caller chose a portal, point it
# at a local port where nothing listens, so that no test or demo reaches the real portal.
OBS_SESSION_OFFLINE_PORTAL="http://127.0.0.1:9"

obs_session_prepare_home() {
  local home=$1 build=$2
  local settings="$home/.config/obs-studio/plugin_config/corvane-obs/settings.json"
  mkdir -p "$home/.config/obs-studio/plugins" "$(dirname "$settings")"
  [ -f "$settings" ] || printf '{ "portal_url": "%s" }\n' "$OBS_SESSION_OFFLINE_PORTAL" >"$settings"
  # Written once: OBS adds to it (OBS 32 records there that it has moved the user's settings
  # to user.ini), and a restart must find what OBS left, as a user's would.
  if [ ! -f "$home/.config/obs-studio/global.ini" ]; then
    cat >"$home/.config/obs-studio/global.ini" <<'INI'
[General]
FirstRun=true
EnableAutoUpdates=false
LastVersion=503447555
[BasicWindow]
ShowTransitions=true
INI
    # Extra sections a caller wants in global.ini (such as [OBSWebSocket]).
    [ -z "${OBS_SESSION_GLOBAL_INI_EXTRA:-}" ] || printf '%s\n' "$OBS_SESSION_GLOBAL_INI_EXTRA" >>"$home/.config/obs-studio/global.ini"
  fi
  # OBS_SESSION_NO_PLUGIN=1 runs OBS without the plugin, for comparisons.
  [ "${OBS_SESSION_NO_PLUGIN:-}" = 1 ] && return 0
  cmake --install "$build" --prefix "$home/.config/obs-studio/plugins" >/dev/null ||
    obs_session_fail "could not install the plugin from $build (is it built?)"
}

# Writes OBS's default scene collection, "Untitled", into HOME: one scene showing one source
# of type ID named NAME with the given settings object, placed at X,Y (default 0,0).
obs_session_write_scene() {
  local home=$1 id=$2 name=$3 settings=$4 x=${5:-0} y=${6:-0}
  local scenes="$home/.config/obs-studio/basic/scenes"
  mkdir -p "$scenes"
  cat >"$scenes/Untitled.json" <<JSON
{
  "name": "Untitled",
  "current_scene": "Scene",
  "current_program_scene": "Scene",
  "scene_order": [{ "name": "Scene" }],
  "sources": [
    {
      "id": "scene", "versioned_id": "scene", "name": "Scene",
      "settings": { "id_counter": 1, "items": [
        { "name": "$name", "id": 1, "visible": true, "locked": false,
          "pos": { "x": $x, "y": $y }, "scale": { "x": 1.0, "y": 1.0 }, "rot": 0.0,
          "align": 5, "bounds_type": 0, "bounds": { "x": 0.0, "y": 0.0 }, "bounds_align": 0 } ] }
    },
    { "id": "$id", "versioned_id": "$id", "name": "$name", "settings": $settings }
  ],
  "transitions": [],
  "groups": []
}
JSON
}

# The scene above with a corvane_text source named "Score".
obs_session_write_score_scene() { obs_session_write_scene "$1" corvane_text Score "$2" "$3" "$4"; }

# Starts the portal simulator from BUILD with the given arguments, its output in
# WORK/portal.out; sets sim_pid and portal (its address), and fails when it does not start.
obs_session_start_portal() {
  local build=$1 work=$2 _
  shift 2
  "$build/tools/portalsim/corvane-portal-sim" "$@" >"$work/portal.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 1 100); do [ -s "$work/portal.out" ] && break; sleep 0.1; done
  portal=$(head -n 1 "$work/portal.out")
  case "$portal" in
    http://127.0.0.1:*) ;;
    *) obs_session_fail "the portal simulator did not start: $portal" ;;
  esac
}

# A TCP port free on 127.0.0.1 at the time of asking.
obs_session_free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Writes the plugin's settings.json in HOME with the given JSON object text.
obs_session_write_settings() {
  local dir="$1/.config/obs-studio/plugin_config/corvane-obs"
  mkdir -p "$dir"
  printf '%s\n' "$2" >"$dir/settings.json"
}

# Stores a signed-in portal session (the simulator's cookie value) for the plugin to restore.
obs_session_store_portal_session() {
  local dir="$1/.config/obs-studio/plugin_config/corvane-obs" cookie=$2 expires
  mkdir -p "$dir"
  expires=$(date -u -d '+1 day' '+%a, %d-%b-%Y %H:%M:%S GMT')
  printf '["corvane_session=%s; expires=%s; domain=127.0.0.1; path=/"]\n' "$cookie" "$expires" >"$dir/session.json"
}

# Enables obs-websocket on PORT without authentication for the session in HOME: in its
# plugin configuration and in global.ini (OBS 30 may read either) and on OBS's command line.
obs_session_enable_websocket() {
  local home=$1 port=$2
  mkdir -p "$home/.config/obs-studio/plugin_config/obs-websocket"
  printf '{ "server_enabled": true, "server_port": %d, "auth_required": false, "first_load": false, "alerts_enabled": false }\n' \
    "$port" >"$home/.config/obs-studio/plugin_config/obs-websocket/config.json"
  OBS_SESSION_GLOBAL_INI_EXTRA="[OBSWebSocket]
ServerEnabled=true
ServerPort=$port
AuthRequired=false
FirstLoad=false
AlertsEnabled=false"
  OBS_SESSION_ARGS="${OBS_SESSION_ARGS:-} --websocket_port $port"
}

# Writes the profile "Untitled" of HOME: a 640x360 canvas at 30 fps, then the sections read
# from standard input (output, hotkeys).
obs_session_write_profile() {
  local profile="$1/.config/obs-studio/basic/profiles/Untitled"
  mkdir -p "$profile"
  {
    printf '[General]\nName=Untitled\n\n[Video]\nBaseCX=640\nBaseCY=360\nOutputCX=640\nOutputCY=360\n'
    printf 'FPSType=0\nFPSCommon=30\n\n'
    cat
  } >"$profile/basic.ini"
}

# The caller's display when set, otherwise a private Xvfb that obs_session_stop ends.
obs_session_display() {
  local work=$1
  [ -n "${DISPLAY:-}" ] && return 0
  command -v Xvfb >/dev/null || { obs_session_fail "Xvfb is not installed and no DISPLAY is set (Debian package xvfb)"; return 1; }
  # Xvfb picks a free display number itself and writes it to the given descriptor, so that
  # tests starting displays side by side never race for the same number.
  local n="" i
  Xvfb -displayfd 3 -screen 0 ${OBS_SESSION_SCREEN:-1600x1000}x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
  OBS_SESSION_XVFB_PID=$!
  for i in $(seq 1 100); do
    n=$(cat "$work/display" 2>/dev/null)
    [ -n "$n" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
    sleep 0.1
  done
  [ -n "$n" ] && [ -e "/tmp/.X11-unix/X$n" ] || { obs_session_fail "Xvfb did not start (see $work/xvfb.log)"; return 1; }
  export DISPLAY=":$n"
}

# The accessibility bus and its registry, so that a script can find and press OBS's menus
# and buttons by name (scripts/lib/show-dock.py). Needs a D-Bus session (dbus-run-session)
# and a display; the processes end with the session.
obs_session_accessibility() {
  [ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ] || { obs_session_fail "no D-Bus session for the accessibility bus"; return 1; }
  [ -x /usr/libexec/at-spi-bus-launcher ] ||
    { obs_session_fail "the accessibility bus is not installed (Debian package at-spi2-core)"; return 1; }
  python3 -c 'import pyatspi' 2>/dev/null ||
    { obs_session_fail "Python's accessibility bindings are not installed (Debian package python3-pyatspi)"; return 1; }
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  sleep 1
  /usr/libexec/at-spi2-registryd >/dev/null 2>&1 &
  sleep 1
}

obs_session_start() {
  local work=$1 build=$2
  [ -x "${OBS_SESSION_CHROOT:-}/usr/bin/obs" ] ||
    { obs_session_fail "OBS Studio is not installed here (Debian package obs-studio)"; return 1; }
  [ "${OBS_SESSION_NO_PLUGIN:-}" = 1 ] || [ -f "$build/plugin/corvane-obs.so" ] ||
    { obs_session_fail "the plugin is not built in $build"; return 1; }
  OBS_SESSION_HOME="$work/home"
  OBS_SESSION_PLUGIN_CONFIG="$OBS_SESSION_HOME/.config/obs-studio/plugin_config/corvane-obs"
  OBS_SESSION_XVFB_PID=${OBS_SESSION_XVFB_PID:-}
  obs_session_prepare_home "$OBS_SESSION_HOME" "$build" || return 1
  OBS_SESSION_EARLIER_LOG=$(obs_session_newest_log || true)
  obs_session_display "$work" || return 1
  export LIBGL_ALWAYS_SOFTWARE=1
  # Without a window manager the main window keeps its first size; Qt's -geometry sets it.
  local enter=()
  [ -n "${OBS_SESSION_CHROOT:-}" ] && enter=(chroot "$OBS_SESSION_CHROOT")
  (
    exec "${enter[@]}" env -C /usr/bin ${OBS_SESSION_PRELOAD:+"LD_PRELOAD=$OBS_SESSION_PRELOAD"} \
      HOME="$OBS_SESSION_HOME" XDG_CONFIG_HOME="$OBS_SESSION_HOME/.config" \
      obs --disable-shutdown-check --disable-updater --multi ${OBS_SESSION_GEOMETRY:+-geometry "$OBS_SESSION_GEOMETRY"} \
      ${OBS_SESSION_ARGS:-} >"$work/obs.out" 2>&1
  ) &
  OBS_SESSION_PID=$!
  OBS_SESSION_WORK=$work
  OBS_SESSION_LOG=""
}

# The newest OBS log file of this session (its name has spaces); nothing until this start's
# OBS has made its own, so that a restart never reads the earlier run's log.
obs_session_logfile() {
  local newest
  newest=$(obs_session_newest_log) || return 1
  [ -n "$newest" ] && [ "$newest" != "$OBS_SESSION_EARLIER_LOG" ] || return 1
  printf '%s\n' "$newest"
}

obs_session_newest_log() {
  local dir="$OBS_SESSION_HOME/.config/obs-studio/logs"
  [ -d "$dir" ] || return 1
  ls -t "$dir"/*.txt 2>/dev/null | head -n 1
}

obs_session_wait_log() {
  local text=$1 seconds=$2 waited=0
  while [ "$waited" -lt $((seconds * 10)) ]; do
    OBS_SESSION_LOG=$(obs_session_logfile || true)
    if [ -n "$OBS_SESSION_LOG" ] && grep -qF -- "$text" "$OBS_SESSION_LOG"; then
      return 0
    fi
    kill -0 "$OBS_SESSION_PID" 2>/dev/null || {
      obs_session_fail "OBS exited before logging \"$text\" (see $OBS_SESSION_WORK/obs.out)"; return 1; }
    sleep 0.1
    waited=$((waited + 1))
  done
  obs_session_fail "OBS did not log \"$text\" within $seconds s"
}

obs_session_screenshot() {
  command -v import >/dev/null || { obs_session_fail "import is not installed (Debian package imagemagick)"; return 1; }
  import -window root -display "$DISPLAY" "$1" 2>/dev/null ||
    obs_session_fail "could not take a screenshot of $DISPLAY"
}

# Asks OBS to quit the way a user's Ctrl+C would; OBS then unloads its modules and exits.
obs_session_stop() {
  local status=0 i
  kill -INT "$OBS_SESSION_PID" 2>/dev/null || true
  for i in $(seq 1 300); do
    kill -0 "$OBS_SESSION_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$OBS_SESSION_PID" 2>/dev/null; then
    obs_session_fail "OBS did not quit within 30 s of SIGINT; killing it"
    kill -KILL "$OBS_SESSION_PID" 2>/dev/null || true
    status=124
  fi
  wait "$OBS_SESSION_PID" 2>/dev/null || status=$?
  OBS_SESSION_LOG=$(obs_session_logfile || true)
  if [ -n "$OBS_SESSION_XVFB_PID" ]; then
    kill "$OBS_SESSION_XVFB_PID" 2>/dev/null || true
    wait "$OBS_SESSION_XVFB_PID" 2>/dev/null || true
    OBS_SESSION_XVFB_PID=""
    unset DISPLAY
  fi
  return "$status"
}
