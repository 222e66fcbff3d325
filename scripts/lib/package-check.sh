#!/usr/bin/env bash
# The steps of the package test inside a build root, with the clean root mounted at
# /mnt/clean (scripts/lib/package-test.sh arranges both):
#   package-check.sh install DEB    apt installs the package into the clean root
#   package-check.sh run BUILD      OBS from the clean root shows live scores from the simulator
#   package-check.sh remove         apt purges it, and nothing of it is left
set -uo pipefail
. "$(dirname "$0")/common.sh"
clean=/mnt/clean
module=/usr/lib/x86_64-linux-gnu/obs-plugins/corvane-obs.so
helper=/usr/libexec/corvane-obs/corvane-ble-helper
data=/usr/share/obs/obs-plugins/corvane-obs
files=/var/tmp/corvane-obs.files
[ -d "$clean/usr" ] || die "no clean root at $clean"

# The clean root shares this root's kernel views and /tmp (the display's socket, the work
# folder), so that paths are the same on both sides.
enter_clean() {
  mount --bind /proc "$clean/proc"
  mount --bind /sys "$clean/sys"
  mount --bind /dev "$clean/dev"
  mount --bind /tmp "$clean/tmp"
}
in_clean() { chroot "$clean" "$@"; }
apt_options=()
IFS=, read -ra apt_config <<<"${CORVANE_APT_CONFIG:-}"
for item in "${apt_config[@]}"; do apt_options+=(-o "$item"); done

install_package() {
  local deb=$1 name
  name=$(basename "$deb")
  enter_clean
  cp /etc/resolv.conf "$clean/etc/resolv.conf"
  cp "$deb" "$clean/var/tmp/$name"
  in_clean apt-get "${apt_options[@]}" update -qq || die "apt-get update failed in the clean root."
  DEBIAN_FRONTEND=noninteractive in_clean apt-get "${apt_options[@]}" install -y -qq --no-install-recommends \
    "/var/tmp/$name" >/tmp/apt-install.log 2>&1 || { tail -30 /tmp/apt-install.log; die "apt could not install $name."; }
  in_clean dpkg -L corvane-obs >"$clean$files"
  local path
  for path in "$module" "$helper" "$data/locale/en-US.ini" "$data/manifest.json" \
    /usr/share/doc/corvane-obs/copyright /usr/share/doc/corvane-obs/changelog.Debian.gz \
    /usr/lib/udev/rules.d/70-corvane-obs.rules; do
    [ -f "$clean$path" ] || die "the package did not install $path"
  done
  # The package's version carries a Debian revision (1.0.1-1~deb13u1); the plugin's does not.
  local version
  version=$(in_clean dpkg-query -W -f='${Version}' corvane-obs)
  grep -q "\"version\": \"${version%%-*}\"" "$clean$data/manifest.json" ||
    die "the manifest's version is not the package's ($version)"
  zcat "$clean/usr/share/doc/corvane-obs/changelog.Debian.gz" | head -n 1 | grep -qF "corvane-obs ($version)" ||
    die "the changelog's first entry is not this version ($version)"
  say "installed $name with $(grep -c . "$clean$files") paths; dependencies pulled by apt: $(grep -c '^Unpacking' /tmp/apt-install.log)"
}

run_obs() {
  local build=$1 work home sim_pid cookie portal status="" snapshot="" problems=""
  enter_clean
  . scripts/lib/obs-session.sh
  work=$(mktemp -d /tmp/corvane-package.XXXXXX)
  cookie="package-$RANDOM$RANDOM"
  obs_session_start_portal "$build" "$work" --session "solo@example.com=$cookie" || die "the portal simulator did not start"
  home="$work/home"
  obs_session_write_settings "$home" "{ \"server_enabled\": true, \"portal_url\": \"$portal\" }"
  obs_session_store_portal_session "$home" "$cookie"
  obs_session_write_score_scene "$home" '{ "template": "{home_score} - {away_score}" }' 40 40

  OBS_SESSION_CHROOT=$clean OBS_SESSION_NO_PLUGIN=1 obs_session_start "$work" "$build" || die "OBS could not be started."
  # What OBS said and showed, when it does not get going.
  stuck() {
    obs_session_screenshot "$build/package-test-stuck.png"
    obs_session_stop
    tail -20 "$work/obs.out" | sed 's/^/  obs.out| /'
    [ -n "${OBS_SESSION_LOG:-}" ] && tail -30 "$OBS_SESSION_LOG" | sed 's/^/  obs| /'
    die "$1 (screen: $build/package-test-stuck.png)"
  }
  obs_session_wait_log "[corvane] loading plugin" 60 || stuck "OBS did not load the plugin."
  obs_session_wait_log "Switched to scene" 60 || stuck "OBS did not finish starting."
  in_clean grep -q " $module\$" "/proc/$OBS_SESSION_PID/maps" || problems+=" the module was not loaded from $module;"
  [ ! -e "$home/.config/obs-studio/plugins" ] || [ -z "$(ls -A "$home/.config/obs-studio/plugins")" ] ||
    problems+=" a per-user plugin folder exists;"
  # The plugin looks for its helper once OBS has finished loading, a moment after the scene.
  obs_session_wait_log "[corvane] Bluetooth helper" 30 >/dev/null || true
  grep -qF "[corvane] Bluetooth helper: $helper" "$OBS_SESSION_LOG" || problems+=" the helper was not found at $helper;"
  grep -qF '[corvane] dock "Corvane" added' "$OBS_SESSION_LOG" || problems+=" the dock was not added;"
  for _ in $(seq 1 30); do
    if { exec 3<>/dev/tcp/127.0.0.1/9001; } 2>/dev/null; then
      IFS= read -r -t 5 snapshot <&3 || true
      printf '{"op":"status"}\n' >&3
      IFS= read -r -t 5 status <&3 || true
      exec 3<&- 3>&-
    fi
    case "$status" in *'"live":true'*) break ;; esac
    sleep 1
  done
  case "$status" in *'"live":true'*) ;; *) problems+=" the score did not go live (status: $status);" ;; esac
  case "$snapshot" in *'"home_score"'*) ;; *) problems+=" no score in the hosted snapshot ($snapshot);" ;; esac
  sleep 1
  obs_session_screenshot "$work/shot.png" || problems+=" no screenshot;"
  # The score text is white on the black canvas at the preview's top left.
  local white
  white=$(convert "$work/shot.png" -crop 400x220+80+40 +repage -fuzz 8% -fill black +opaque white -fill white \
    -opaque white -format '%[fx:mean]' info: 2>/dev/null)
  awk -v w="${white:-0}" 'BEGIN { exit !(w > 0.002) }' || problems+=" no score text in the preview (white share $white);"
  obs_session_stop || problems+=" OBS did not quit cleanly;"
  kill "$sim_pid" 2>/dev/null; wait "$sim_pid" 2>/dev/null
  grep -qF "[corvane] plugin unloaded" "$OBS_SESSION_LOG" || problems+=" no unload line;"
  grep -qF "Number of memory leaks: 0" "$OBS_SESSION_LOG" || problems+=" $(grep -F 'memory leaks' "$OBS_SESSION_LOG" || echo 'no leak count');"
  if [ -n "$problems" ]; then
    sed 's/^/  obs| /' "$OBS_SESSION_LOG" | tail -40
    die "OBS with the package:$problems"
  fi
  cp "$work/shot.png" "$build/package-test-last.png" 2>/dev/null
  say "OBS $(in_clean dpkg-query -W -f='${Version}' obs-studio) loaded $module, found $helper, added the dock and showed the live score: $snapshot"
}

remove_package() {
  enter_clean
  [ -s "$clean$files" ] || die "no record of the installed files at $files"
  DEBIAN_FRONTEND=noninteractive in_clean apt-get purge -y -qq corvane-obs >/tmp/apt-purge.log 2>&1 ||
    { tail -20 /tmp/apt-purge.log; die "apt could not remove corvane-obs."; }
  in_clean dpkg -s corvane-obs >/dev/null 2>&1 && die "dpkg still knows corvane-obs after the purge."
  local path left=()
  # Folders the package shares with others (/usr/lib/..., obs-plugins) stay; ours must go.
  while IFS= read -r path; do
    [ -f "$clean$path" ] || [ -L "$clean$path" ] && left+=("$path")
  done <"$clean$files"
  for path in "$data" /usr/libexec/corvane-obs /usr/share/doc/corvane-obs; do
    [ -e "$clean$path" ] && left+=("$path")
  done
  [ ${#left[@]} -eq 0 ] || die "left after removal: ${left[*]}"
  say "removed: none of the package's $(grep -c . "$clean$files") paths is left"
}

case ${1:-} in
  install) install_package "${2:?package file}" ;;
  run) run_obs "${2:?build folder}" ;;
  remove) remove_package ;;
  *) die "usage: package-check.sh install DEB | run BUILD | remove" ;;
esac
