# Shared helpers of the project's scripts: messages, the build root and running inside it.
# Sourced, never run.

CORVANE_SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# The build root lives outside the checkout so that every clone on this machine reuses it.
CORVANE_ROOT=${CORVANE_BUILD_ROOT:-/var/cache/corvane-obs/trixie-root}
CORVANE_SUITE=trixie
# Where the checkout appears inside the build root.
CORVANE_MOUNT=/src

# Everything the build, the tests and the demo need inside the root. A package added here
# is installed by the next run.
CORVANE_PACKAGES=(
  g++ cmake ninja-build pkg-config file ccache
  qt6-base-dev qt6-serialport-dev qt6-connectivity-dev
  libobs-dev obs-studio obs-plugins
  xvfb xauth imagemagick procps iproute2
  clang libclang-rt-dev llvm openssl gdb
  libarchive-tools
  dbus at-spi2-core python3 python3-pyatspi qt6-svg-plugins
  dpkg-dev
)

say() { printf '==> %s\n' "$*"; }
die() { printf 'error: %s\n' "$*" >&2; exit 1; }

# True when this host can build and run everything itself: Qt 6 and OBS 30 or newer.
host_is_native() {
  command -v cmake >/dev/null 2>&1 || return 1
  command -v ninja >/dev/null 2>&1 || return 1
  command -v obs >/dev/null 2>&1 || return 1
  command -v Xvfb >/dev/null 2>&1 || return 1
  pkg-config --atleast-version=30 libobs 2>/dev/null || return 1
  pkg-config --exists Qt6Core Qt6Widgets Qt6Network Qt6SerialPort 2>/dev/null || return 1
}

needs_root() {
  [ -n "${CORVANE_FORCE_ROOT:-}" ] && return 0
  [ -f /.corvane-build-root ] && return 1  # already inside it
  ! host_is_native
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

# The wanted packages that the root does not have yet, one a line.
missing_packages() {
  local installed
  installed=$(chroot "$CORVANE_ROOT" dpkg-query -W -f='${Package} ${db:Status-Status}\n' \
    "${CORVANE_PACKAGES[@]}" 2>/dev/null | awk '$2 == "installed" { print $1 }')
  printf '%s\n' "${CORVANE_PACKAGES[@]}" | grep -vxF -f <(printf '%s\n' "$installed")
}

# Creates the Debian 13 build root, or installs what it lacks; a no-op when current.
ensure_build_root() {
  if [ -x "$CORVANE_ROOT/usr/bin/apt-get" ] && [ -z "$(missing_packages)" ]; then
    return 0
  fi
  [ "$(id -u)" = 0 ] || die "creating the build root needs root (this host lacks Qt 6 and OBS 30; run as root once)."
  command -v unshare >/dev/null 2>&1 || die "unshare (util-linux) is missing on this host."
  local url
  url=$(host_archive_url)
  if [ ! -x "$CORVANE_ROOT/usr/bin/apt-get" ]; then
    local started=$SECONDS
    if ! command -v debootstrap >/dev/null 2>&1; then
      say "installing debootstrap on the host"
      apt-get update -qq >/dev/null || die "apt-get update failed on the host."
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null ||
        die "could not install debootstrap on the host."
    fi
    say "creating a Debian 13 ($CORVANE_SUITE) build root in $CORVANE_ROOT (about a minute)"
    rm -rf "$CORVANE_ROOT.partial"
    mkdir -p "$(dirname "$CORVANE_ROOT")"
    debootstrap --variant=minbase "$CORVANE_SUITE" "$CORVANE_ROOT.partial" "$url" \
      >"$(dirname "$CORVANE_ROOT")/debootstrap.log" 2>&1 ||
      die "debootstrap failed; see $(dirname "$CORVANE_ROOT")/debootstrap.log"
    rm -rf "$CORVANE_ROOT"
    mv "$CORVANE_ROOT.partial" "$CORVANE_ROOT"
    say "build root bootstrapped in $((SECONDS - started)) s"
  fi
  cp /etc/resolv.conf "$CORVANE_ROOT/etc/resolv.conf"
  mkdir -p "$CORVANE_ROOT$CORVANE_MOUNT"
  local started=$SECONDS
  say "installing the toolchain, Qt 6 and OBS into the build root (about 80 s the first time)"
  CORVANE_OFFLINE= run_in_root / bash -c "export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq && apt-get install -y -qq --no-install-recommends ${CORVANE_PACKAGES[*]}" \
    >"$(dirname "$CORVANE_ROOT")/apt.log" 2>&1 ||
    die "installing packages into the build root failed; see $(dirname "$CORVANE_ROOT")/apt.log"
  say "build root ready in $((SECONDS - started)) s"
}

# Runs a command inside the build root with the checkout mounted at $CORVANE_MOUNT, in the
# given working directory there. The mounts live in a private namespace and vanish with it.
# With CORVANE_OFFLINE=1 the command also gets a network of its own with only loopback, so
# nothing it starts (OBS included) can reach beyond this machine.
run_in_root() {
  local dir=$1; shift
  local r=$CORVANE_ROOT
  local net=()
  [ "${CORVANE_OFFLINE:-}" = 1 ] && net=(--net)
  # Unset variables that point at host paths; keep DISPLAY and the caller's CORVANE_* and CI.
  env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DISPLAY="${DISPLAY:-}" CI="${CI:-}" \
    XAUTHORITY="${XAUTHORITY:-}" $(env | grep -E '^CORVANE_[A-Z_]+=' | tr '\n' ' ') \
    unshare --mount "${net[@]}" --fork --propagation private bash -c '
      set -e
      r=$1; src=$2; mnt=$3; dir=$4; shift 4
      mount --bind /proc "$r/proc"
      mount --bind /sys "$r/sys"
      mount --bind /dev "$r/dev"
      mount -t devpts devpts "$r/dev/pts" -o newinstance,ptmxmode=0666
      mount --bind "$r/dev/pts/ptmx" "$r/dev/ptmx"
      mount -t tmpfs tmpfs "$r/dev/shm"
      mount -t tmpfs tmpfs "$r/tmp"
      # Serial ports are locked with files named after the device; each namespace numbers
      # its pseudo-terminals from 0, so the lock folder must be private too.
      mount -t tmpfs tmpfs "$r/run/lock"
      if [ -d /tmp/.X11-unix ]; then mkdir -p "$r/tmp/.X11-unix"; mount --bind /tmp/.X11-unix "$r/tmp/.X11-unix"; fi
      mount --bind "$src" "$r$mnt"
      exec chroot "$r" bash -c "[ \"\${CORVANE_OFFLINE:-}\" != 1 ] || ip link set lo up; cd \"\$0\" && exec \"\$@\"" "$dir" "$@"
    ' corvane-root "$r" "$CORVANE_SRC" "$CORVANE_MOUNT" "$dir" "$@"
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
