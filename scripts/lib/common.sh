# Shared helpers of the project's scripts: messages, the build root and running inside it.
# Sourced, never run.

CORVANE_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Build roots and what they cache (downloaded packages, compiler output) live outside the
# checkout, so that every clone on this machine reuses them.
CORVANE_CACHE=${CORVANE_CACHE:-/var/cache/corvane-obs}
# Where the roots themselves are; scripts/test points it at a throw-away folder under CI.
CORVANE_ROOTS=${CORVANE_ROOTS:-$CORVANE_CACHE}
# Where the checkout appears inside a build root.
CORVANE_MOUNT=/src

# Everything the build, the tests, the demo and the package need inside a root. A package
# added here is installed by the next run; nothing is ever installed into a root by hand.
CORVANE_PACKAGES=(
  g++ cmake ninja-build pkg-config file ccache
  qt6-base-dev qt6-serialport-dev qt6-connectivity-dev
  libobs-dev obs-studio obs-plugins
  xvfb xauth imagemagick procps iproute2 openssl gdb
  libarchive-tools
  dbus at-spi2-core python3 python3-pyatspi qt6-svg-plugins
  dpkg-dev
  ffmpeg
  qt6-websockets-dev
  chromium-headless-shell nodejs npm
  lintian
)
# The fuzz preset is built in the Debian 13 root only.
CORVANE_PACKAGES_TRIXIE=(clang libclang-rt-dev llvm)
# Debian 12 has Qt 6.4 (the Qt of Ubuntu 24.04 LTS) but an OBS built on Qt 5, so its root
# builds OBS itself (scripts/lib/obs-build.sh): the build's own packages, then OBS's build
# dependencies as Debian lists them, less the parts left out (browser, WebRTC, AJA, VLC,
# JACK, scripting, PipeWire, NVENC, QSV). Qt 6.4 has its SVG image plugin in libqt6svg6.
CORVANE_PACKAGES_BOOKWORM=(
  g++ cmake ninja-build pkg-config file ccache
  qt6-base-dev qt6-serialport-dev qt6-connectivity-dev
  xvfb xauth imagemagick procps iproute2 openssl gdb
  libarchive-tools
  dbus at-spi2-core python3 python3-pyatspi
  dpkg-dev
  ffmpeg
  qt6-websockets-dev
  chromium-headless-shell nodejs npm
  lintian
  qt6-base-private-dev qt6-svg-dev qt6-wayland-dev libgl-dev libegl-dev
  libasound2-dev libavcodec-dev libavdevice-dev libavfilter-dev libavformat-dev libavutil-dev
  libswresample-dev libswscale-dev libcurl4-openssl-dev libfontconfig-dev libfreetype-dev
  libjansson-dev libmbedtls-dev libpci-dev libpulse-dev libspeexdsp-dev libudev-dev
  libv4l-dev libva-dev libdrm-dev libwayland-dev libx11-dev libx11-xcb-dev libx264-dev
  libxcb-composite0-dev libxcb-randr0-dev libxcb-shm0-dev libxcb-xfixes0-dev
  libxcb-xinerama0-dev libxcb1-dev libxcomposite-dev libxinerama-dev libxss-dev
  libxkbcommon-dev nlohmann-json3-dev libasio-dev libwebsocketpp-dev libqrcodegencpp-dev
  uthash-dev libsimde-dev libsrt-openssl-dev librist-dev python3-dev swig xz-utils
)

# The build roots, by name: Debian 13 with OBS 30.2 on Qt 6.8, Debian unstable with OBS 32
# on Qt 6.11 (the shipping target), and Debian 12 with OBS 30.2 built here on Qt 6.4 (the
# Qt floor). CORVANE_ROOT_NAME picks one (default trixie).
use_root() {
  CORVANE_ROOT_NAME=$1
  case $1 in
    trixie)
      CORVANE_SUITE=trixie
      CORVANE_ROOT=${CORVANE_BUILD_ROOT:-$CORVANE_ROOTS/trixie-root}
      CORVANE_ROOT_LABEL="Debian 13"
      CORVANE_ROOT_PACKAGES=("${CORVANE_PACKAGES[@]}" "${CORVANE_PACKAGES_TRIXIE[@]}")
      CORVANE_OBS_LABEL="OBS 30.2"
      CORVANE_APT_OPTIONS=() ;;
    sid)
      CORVANE_SUITE=sid
      CORVANE_ROOT=${CORVANE_SID_ROOT:-$CORVANE_ROOTS/sid-root}
      CORVANE_ROOT_LABEL="Debian unstable"
      CORVANE_ROOT_PACKAGES=("${CORVANE_PACKAGES[@]}")
      # The archive may be a dated snapshot of unstable, whose Release file has expired.
      CORVANE_OBS_LABEL="OBS 32"
      CORVANE_APT_OPTIONS=(-o Acquire::Check-Valid-Until=false) ;;
    bookworm)
      CORVANE_SUITE=bookworm
      CORVANE_ROOT=${CORVANE_BOOKWORM_ROOT:-$CORVANE_ROOTS/bookworm-root}
      CORVANE_ROOT_LABEL="Debian 12"
      CORVANE_ROOT_PACKAGES=("${CORVANE_PACKAGES_BOOKWORM[@]}")
      CORVANE_OBS_LABEL="OBS 30.2/Qt 6.4"
      CORVANE_APT_OPTIONS=() ;;
    *) die "unknown build root '$1' (trixie, sid or bookworm)" ;;
  esac
  # The root the package test installs into: OBS and nothing of the build's.
  CORVANE_CLEAN_ROOT="$CORVANE_ROOTS/$CORVANE_SUITE-clean"
}

say() { printf '==> %s\n' "$*"; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# True when this host can build and run everything itself: Qt 6 and OBS 30 or newer.
host_is_native() {
  command -v cmake >/dev/null 2>&1 || return 1
  command -v ninja >/dev/null 2>&1 || return 1
  command -v obs >/dev/null 2>&1 || return 1
  command -v Xvfb >/dev/null 2>&1 || return 1
  pkg-config --atleast-version=30 libobs 2>/dev/null || return 1
  pkg-config --exists Qt6Core Qt6Widgets Qt6Network Qt6SerialPort Qt6WebSockets 2>/dev/null || return 1
}

# Inside a root, and on a native host asked for the host's own OBS, nothing is entered.
needs_root() {
  [ -f /.corvane-build-root ] && return 1
  [ -n "${CORVANE_FORCE_ROOT:-}" ] && return 0
  [ "$CORVANE_ROOT_NAME" != trixie ] && return 0
  ! host_is_native
}

# The package that provides a program the scripts run, so that a missing one can be named.
package_of() {
  case $1 in
    dbus-run-session | dbus-daemon) echo dbus ;;
    at-spi-bus-launcher | at-spi2-registryd) echo at-spi2-core ;;
    pyatspi) echo python3-pyatspi ;;
    import | convert) echo imagemagick ;;
    Xvfb) echo xvfb ;;
    obs) echo obs-studio ;;
    bsdtar) echo libarchive-tools ;;
    dpkg-shlibdeps) echo dpkg-dev ;;
    ip) echo iproute2 ;;
    ffprobe | ffmpeg) echo ffmpeg ;;
    *) echo "$1" ;;
  esac
}

# Fails with the package to install when a program is missing.
need_program() {
  local program
  for program in "$@"; do
    command -v "$program" >/dev/null 2>&1 ||
      die "$program is not installed here; it comes with the Debian package $(package_of "$program")."
  done
}

# The archive the host's apt already uses; the root is fetched from the same place.
host_archive_url() {
  local url=""
  if compgen -G '/etc/apt/sources.list.d/*.sources' >/dev/null; then
    url=$(awk '/^URIs:/ && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list.d/*.sources)
  fi
  if [ -z "$url" ] && [ -f /etc/apt/sources.list ]; then
    url=$(awk '$1 == "deb" && $2 ~ /\/debian\/?$/ { print $2; exit }' /etc/apt/sources.list)
  fi
  [ -n "$url" ] || die "cannot find a Debian archive in the host's apt configuration (/etc/apt)."
  printf '%s\n' "$url"
}

# The wanted packages that a root does not have yet, one a line.
missing_packages() {
  local root=$1; shift
  local installed
  installed=$(chroot "$root" dpkg-query -W -f='${Package} ${db:Status-Status}\n' "$@" 2>/dev/null |
    awk '$2 == "installed" { print $1 }')
  printf '%s\n' "$@" | grep -vxF -f <(printf '%s\n' "$installed")
}

# Bootstraps a minimal Debian SUITE into ROOT when it is not there yet. Downloaded packages
# are kept in the cache, so that a root made anew fetches nothing it fetched before.
bootstrap_root() {
  local suite=$1 root=$2 label=$3
  [ -x "$root/usr/bin/apt-get" ] && return 0
  [ "$(id -u)" = 0 ] || die "creating the $label build root needs root (run as root once)."
  command -v unshare >/dev/null 2>&1 || die "unshare is not installed on this host; it comes with the Debian package util-linux."
  if ! command -v debootstrap >/dev/null 2>&1; then
    say "installing debootstrap on the host"
    apt-get update -qq >/dev/null || die "apt-get update failed on the host."
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null ||
      die "could not install debootstrap on the host."
  fi
  local url started=$SECONDS log="$CORVANE_CACHE/debootstrap-$suite.log"
  url=$(host_archive_url)
  say "creating a $label ($suite) root in $root (about a minute)"
  mkdir -p "$CORVANE_CACHE/debs-$suite" "$(dirname "$root")"
  rm -rf "$root.partial"
  debootstrap --variant=minbase --cache-dir="$CORVANE_CACHE/debs-$suite" "$suite" "$root.partial" "$url" >"$log" 2>&1 ||
    die "debootstrap failed; see $log"
  rm -rf "$root"
  mv "$root.partial" "$root"
  say "$label root bootstrapped in $((SECONDS - started)) s"
}

# Installs PACKAGES into ROOT with apt, from the host's archive (a no-op when all are there).
install_into_root() {
  local root=$1 label=$2; shift 2
  [ -z "$(missing_packages "$root" "$@")" ] && return 0
  [ "$(id -u)" = 0 ] || die "installing packages into the $label root needs root."
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  local started=$SECONDS log="$CORVANE_CACHE/apt-$(basename "$root").log" options
  options="${CORVANE_APT_OPTIONS[*]}"
  say "installing $(missing_packages "$root" "$@" | wc -l) packages into the $label root"
  CORVANE_OFFLINE= CORVANE_ROOT=$root run_in_root / bash -c "export DEBIAN_FRONTEND=noninteractive
    apt-get $options update -qq && apt-get $options install -y -qq --no-install-recommends $*" >"$log" 2>&1 ||
    die "installing packages into the $label root failed; see $log"
  say "$label root ready in $((SECONDS - started)) s"
}

# The browser tests' JavaScript packages (tests/e2e/browser): pinned by its package-lock.json,
# installed once per lock file into the cache, outside the tests' loopback-only network, and
# seen inside a root as /var/cache/npm/KEY/node_modules. Pure JavaScript, so one install
# serves both roots.
npm_key() { sha256sum "$CORVANE_SRC/tests/e2e/browser/package-lock.json" | cut -c1-16; }

ensure_node_modules() {
  local key dir log
  key=$(npm_key)
  dir="$CORVANE_CACHE/npm/$key"
  [ -d "$dir/node_modules" ] && return 0
  [ "$(id -u)" = 0 ] || die "installing the browser tests' npm packages into $dir needs root."
  log="$CORVANE_CACHE/npm-$key.log"
  say "installing the browser tests' npm packages ($key)"
  rm -rf "$dir.partial"
  mkdir -p "$dir.partial"
  cp "$CORVANE_SRC/tests/e2e/browser/package.json" "$CORVANE_SRC/tests/e2e/browser/package-lock.json" \
    "$CORVANE_SRC/tests/e2e/browser/.npmrc" "$dir.partial/"
  # Node trusts only its own certificate list; the host's may hold more (a proxy's).
  [ -f /etc/ssl/certs/ca-certificates.crt ] && cp /etc/ssl/certs/ca-certificates.crt "$dir.partial/host-ca.crt"
  CORVANE_OFFLINE= run_in_root "/var/cache/npm/$key.partial" bash -c \
    '[ ! -f host-ca.crt ] || export NODE_EXTRA_CA_CERTS=$PWD/host-ca.crt; npm ci --no-audit --no-fund' >"$log" 2>&1 ||
    die "installing the browser tests' npm packages failed; see $log"
  rm -f "$dir.partial/host-ca.crt"
  mv "$dir.partial" "$dir"
}

# The OBS packages the Debian 12 root builds, kept in the cache under a key of what built
# them (the build script and the distribution), so that a root made anew, under CI too,
# installs them in seconds.
obs_debs_dir() {
  echo "$CORVANE_CACHE/obs-debs/$CORVANE_SUITE-$(sha256sum "$CORVANE_SRC/scripts/lib/obs-build.sh" | cut -c1-16)"
}

ensure_obs_debs() {
  local dir started=$SECONDS log lock
  dir=$(obs_debs_dir)
  compgen -G "$dir/obs-studio_*.deb" >/dev/null && return 0
  [ "$(id -u)" = 0 ] || die "building OBS for the $CORVANE_ROOT_LABEL root needs root."
  # One build at a time: a second would start over in the first one's folder. Whoever
  # waited finds the packages made.
  mkdir -p "$CORVANE_CACHE"
  exec {lock}>"$CORVANE_CACHE/obs-build-$CORVANE_SUITE.lock"
  if ! flock -n "$lock"; then
    say "another run is building OBS for the $CORVANE_ROOT_LABEL root; waiting for it"
    flock "$lock"
  fi
  if compgen -G "$dir/obs-studio_*.deb" >/dev/null; then
    exec {lock}>&-
    return 0
  fi
  log="$CORVANE_CACHE/obs-build-$CORVANE_SUITE.log"
  say "building OBS 30.2.3 on Qt 6.4 in the $CORVANE_ROOT_LABEL root, once (about 11 minutes on 2 cores); log: $log"
  CORVANE_OFFLINE= run_in_root "$CORVANE_MOUNT" bash scripts/lib/obs-build.sh "$(host_archive_url)" /var/tmp/obs-debs >"$log" 2>&1 ||
    die "building OBS failed; see $log"
  mkdir -p "$dir.partial"
  cp "$CORVANE_ROOT"/var/tmp/obs-debs/*.deb "$dir.partial/"
  rm -rf "$dir" "$CORVANE_ROOT/var/tmp/obs-build"
  mv "$dir.partial" "$dir"
  exec {lock}>&-
  say "OBS packages built in $((SECONDS - started)) s: $(ls "$dir" | tr '\n' ' ')"
}

# Installs the cached OBS packages (PACKAGES...) into ROOT unless that version is there.
install_obs_debs() {
  local root=$1 label=$2; shift 2
  local dir version
  dir=$(obs_debs_dir)
  version=$(dpkg-deb --field "$(ls "$dir"/obs-studio_*.deb)" Version)
  [ "$(chroot "$root" dpkg-query -W -f='${Version}' obs-studio 2>/dev/null)" = "$version" ] &&
    [ -z "$(missing_packages "$root" "$@")" ] && return 0
  mkdir -p "$root/var/tmp/obs-debs"
  rm -f "$root"/var/tmp/obs-debs/*.deb
  cp "$dir"/*.deb "$root/var/tmp/obs-debs/"
  local debs=() package
  for package in "$@"; do debs+=("/var/tmp/obs-debs/${package}_${version}_amd64.deb"); done
  say "installing OBS $version into the $label root"
  CORVANE_OFFLINE= CORVANE_ROOT=$root run_in_root / bash -c "export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends ${debs[*]}" >>"$CORVANE_CACHE/apt-$(basename "$root").log" 2>&1 ||
    die "installing the OBS packages into the $label root failed; see $CORVANE_CACHE/apt-$(basename "$root").log"
}

# Creates the chosen build root, or installs what it lacks; a no-op when current.
ensure_build_root() {
  bootstrap_root "$CORVANE_SUITE" "$CORVANE_ROOT" "$CORVANE_ROOT_LABEL"
  # Scripts run inside a root know it by this file and never try to enter another.
  [ -f "$CORVANE_ROOT/.corvane-build-root" ] || touch "$CORVANE_ROOT/.corvane-build-root"
  mkdir -p "$CORVANE_ROOT$CORVANE_MOUNT"
  install_into_root "$CORVANE_ROOT" "$CORVANE_ROOT_LABEL" "${CORVANE_ROOT_PACKAGES[@]}"
  if [ "$CORVANE_ROOT_NAME" = bookworm ]; then
    ensure_obs_debs
    install_obs_debs "$CORVANE_ROOT" "$CORVANE_ROOT_LABEL" obs-studio libobs-dev
  fi
  ensure_node_modules
}

# Creates the clean root of the chosen distribution: OBS with what it depends on and the
# OpenGL library and driver every desktop has (Debian unstable's OBS loads libGL.so.1 without
# depending on it), nothing more.
ensure_clean_root() {
  bootstrap_root "$CORVANE_SUITE" "$CORVANE_CLEAN_ROOT" "clean $CORVANE_ROOT_LABEL"
  mkdir -p "$CORVANE_CLEAN_ROOT$CORVANE_MOUNT"
  if [ "$CORVANE_ROOT_NAME" = bookworm ]; then
    # Debian 12's own OBS is built on Qt 5: the clean root gets the one built here.
    install_into_root "$CORVANE_CLEAN_ROOT" "clean $CORVANE_ROOT_LABEL" libgl1 libgl1-mesa-dri
    install_obs_debs "$CORVANE_CLEAN_ROOT" "clean $CORVANE_ROOT_LABEL" obs-studio
  else
    install_into_root "$CORVANE_CLEAN_ROOT" "clean $CORVANE_ROOT_LABEL" obs-studio libgl1 libgl1-mesa-dri
  fi
}

# Runs a command inside $CORVANE_ROOT with the checkout mounted at $CORVANE_MOUNT, in the
# given working directory there. The mounts live in a private namespace and vanish with it.
# The root's package downloads and compiler cache are kept in $CORVANE_CACHE, so a root made
# anew starts warm. With CORVANE_OFFLINE=1 the command also gets a network of its own with
# only loopback, so nothing it starts (OBS included) can reach beyond this machine.
run_in_root() {
  local dir=$1; shift
  local r=$CORVANE_ROOT
  local cache="$CORVANE_CACHE/$(basename "$r")-cache"
  local net=()
  [ "${CORVANE_OFFLINE:-}" = 1 ] && net=(--net)
  mkdir -p "$cache/apt" "$cache/ccache" "$r/var/cache/apt/archives" "$r/var/cache/ccache" "$CORVANE_CACHE/npm" "$r/var/cache/npm"
  # Unset variables that point at host paths; keep DISPLAY and the caller's CORVANE_* and CI.
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DISPLAY="${DISPLAY:-}" CI="${CI:-}" \
    XAUTHORITY="${XAUTHORITY:-}" CCACHE_DIR=/var/cache/ccache $(env | grep -E '^CORVANE_[A-Z_]+=' | tr '\n' ' ') \
    unshare --mount "${net[@]}" --fork --propagation private bash -c '
      set -e
      r=$1; src=$2; mnt=$3; dir=$4; cache=$5; npm=$6; shift 6
      mount --bind /proc "$r/proc"
      mount --bind /sys "$r/sys"
      mount --bind /dev "$r/dev"
      mount -t devpts devpts "$r/dev/pts" -o newinstance,ptmxmode=0666
      mount --bind "$r/dev/pts/ptmx" "$r/dev/ptmx"
      mount -t tmpfs tmpfs "$r/dev/shm"
      mount -t tmpfs tmpfs "$r/tmp"
      # Serial ports are locked with files named after the device; each namespace numbers
      # its pseudo-terminals from 0, so the lock folder must be private too.
      mkdir -p "$r/run/lock"
      mount -t tmpfs tmpfs "$r/run/lock"
      mount --bind "$cache/apt" "$r/var/cache/apt/archives"
      mount --bind "$cache/ccache" "$r/var/cache/ccache"
      mount --bind "$npm" "$r/var/cache/npm"
      if [ -d /tmp/.X11-unix ]; then mkdir -p "$r/tmp/.X11-unix"; mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"; fi
      mount --bind "$src" "$r$mnt"
      # A clean root seen through a throw-away layer, for the package test (lower:upper:work).
      if [ -n "${CORVANE_CLEAN_OVERLAY:-}" ]; then
        IFS=: read -r lower upper work <<<"$CORVANE_CLEAN_OVERLAY"
        mkdir -p "$r/mnt/clean"
        mount -t overlay overlay -o "lowerdir=$lower,upperdir=$upper,workdir=$work" "$r/mnt/clean"
      fi
      exec chroot "$r" bash -c "[ \"\${CORVANE_OFFLINE:-}\" != 1 ] || ip link set lo up; cd \"\$0\" && exec \"\$@\"" "$dir" "$@"
    ' corvane-root "$r" "$CORVANE_SRC" "$CORVANE_MOUNT" "$dir" "$cache" "$CORVANE_CACHE/npm" "$@"
}

# Runs a command from the checkout's root: inside the build root when the host needs one.
in_checkout() {
  if needs_root; then
    ensure_build_root
    run_in_root "$CORVANE_MOUNT" "$@"
  elif [ "${CORVANE_OFFLINE:-}" = 1 ] && [ "$(id -u)" = 0 ] && command -v ip >/dev/null 2>&1; then
    (cd "$CORVANE_SRC" && unshare --net bash -c 'ip link set lo up && exec "$@"' corvane-offline "$@")
  else
    [ "${CORVANE_OFFLINE:-}" = 1 ] && say "note: not root, so the tests share this host's network"
    (cd "$CORVANE_SRC" && "$@")
  fi
}

use_root "${CORVANE_ROOT_NAME:-trixie}"
