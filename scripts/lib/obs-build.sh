#!/usr/bin/env bash
# Builds OBS Studio 30.2.3 from Debian 13's source package against this root's Qt and packs
# the install into two .debs (obs-studio and libobs-dev, versioned ~corvane so that nobody
# takes them for Debian's) in OUTDIR. Run inside the Debian 12 root, with network.
#   obs-build.sh ARCHIVE_URL OUTDIR
# Left out, because Debian 12 lacks what they need or they cannot run in a build root:
# the browser source (CEF is not in Debian), WebRTC (libdatachannel), AJA, VLC, JACK,
# scripting, PipeWire, NVENC (FFnvcodec 11.1 is too old), QSV, the new MPEG-TS output.
set -euo pipefail
url=${1:?usage: obs-build.sh ARCHIVE_URL OUTDIR}
out=${2:?usage: obs-build.sh ARCHIVE_URL OUTDIR}
upstream=30.2.3
version="$upstream+dfsg-0~corvane1"
work=/var/tmp/obs-build
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

rm -rf "$work" && mkdir -p "$work" && cd "$work"
# The archive serves Debian 13's source tarball but not its packaging (.dsc and .debian.tar.xz
# answer 404), so apt-get source fails after fetching what is used here.
echo "deb-src $url trixie main" >/etc/apt/sources.list.d/corvane-obs-source.list
trap 'rm -f /etc/apt/sources.list.d/corvane-obs-source.list' EXIT
apt-get update -qq
apt-get source --download-only "obs-studio=$upstream+dfsg-3" || true
tarball=$(ls obs-studio_"$upstream"+dfsg.orig.tar.* 2>/dev/null | head -n 1)
[ -n "$tarball" ] || { echo "error: the OBS $upstream source tarball did not download" >&2; exit 1; }
mkdir src && tar -xf "$tarball" -C src --strip-components=1
cd src
# The dfsg tarball drops blake2 (the Windows updater's), the Intel QSV plugin and the bundled
# SIMDe; Debian's libsimde-dev stands in for the last.
{ grep -rlE 'add_subdirectory\(([a-z/]*/)?(blake2|obs-qsv11)\)' --include=CMakeLists.txt . || true; } |
  xargs -r sed -i -E '\%add_subdirectory\(([a-z/]*/)?(blake2|obs-qsv11)\)%d'
rm -rf libobs/util/simde && ln -s /usr/include/simde libobs/util/simde

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DOBS_VERSION_OVERRIDE=$upstream -DENABLE_WEBSOCKET=ON \
  -DENABLE_BROWSER=OFF -DENABLE_WEBRTC=OFF -DENABLE_AJA=OFF -DENABLE_SCRIPTING=OFF \
  -DENABLE_VLC=OFF -DENABLE_JACK=OFF -DENABLE_NEW_MPEGTS_OUTPUT=OFF -DENABLE_VST=OFF \
  -DENABLE_NVENC=OFF -DENABLE_NATIVE_NVENC=OFF -DENABLE_QSV11=OFF -DENABLE_LIBFDK=OFF \
  -DENABLE_SNDIO=OFF -DENABLE_PIPEWIRE=OFF -DENABLE_DECKLINK=OFF -DENABLE_WHATSNEW=OFF \
  >"$work/configure.log" 2>&1 || { tail -n 40 "$work/configure.log" >&2; exit 1; }
nice cmake --build build -j"$(nproc)" >"$work/build.log" 2>&1 || { tail -n 40 "$work/build.log" >&2; exit 1; }
DESTDIR="$work/stage" cmake --install build >"$work/install.log" 2>&1
cd "$work"

# Development files go to libobs-dev, the rest to obs-studio.
mkdir -p pkg/obs-studio pkg/libobs-dev
cp -a stage/usr pkg/obs-studio/
move_dev() { mkdir -p "pkg/libobs-dev/$(dirname "$1")"; mv "pkg/obs-studio/$1" "pkg/libobs-dev/$1"; }
move_dev usr/include
move_dev "usr/lib/$multiarch/cmake"
move_dev "usr/lib/$multiarch/pkgconfig"
for link in pkg/obs-studio/usr/lib/"$multiarch"/*.so; do
  [ -L "$link" ] && move_dev "${link#pkg/obs-studio/}"
done

# What obs-studio's libraries provide, so that dpkg-shlibdeps can name this package for a
# plugin linked against them.
mkdir -p pkg/obs-studio/DEBIAN pkg/libobs-dev/DEBIAN
for lib in pkg/obs-studio/usr/lib/"$multiarch"/lib*.so.*; do
  [ -L "$lib" ] && continue
  soname=$(objdump -p "$lib" | awk '$1 == "SONAME" { print $2 }')
  [ -n "$soname" ] || continue
  name=${soname%%.so.*}; major=${soname##*.so.}
  echo "$name $major obs-studio (>= $version)"
done | sort -u >pkg/obs-studio/DEBIAN/shlibs

# Depends from the binaries' own libraries (dpkg-shlibdeps wants a debian/control to read).
mkdir -p shlib/debian
printf 'Source: obs-studio\n\nPackage: obs-studio\nArchitecture: any\n' >shlib/debian/control
mapfile -t elves < <(find pkg/obs-studio/usr -type f \( -perm -u+x -o -name '*.so*' \) -exec sh -c 'file -b "$1" | grep -q ^ELF' _ {} \; -print)
depends=$(cd shlib && dpkg-shlibdeps -O -l"$work/pkg/obs-studio/usr/lib/$multiarch" \
  -S"$work/pkg/obs-studio" "${elves[@]/#/$work/}" 2>"$work/shlibdeps.log" | sed -n 's/^shlibs:Depends=//p')

size() { du -sk --exclude=DEBIAN "$1" | cut -f1; }
cat >pkg/obs-studio/DEBIAN/control <<CONTROL
Package: obs-studio
Version: $version
Architecture: $arch
Maintainer: Corvane <support@corvane.com>
Installed-Size: $(size pkg/obs-studio)
Depends: $depends
Provides: obs-plugins, libobs0
Section: video
Priority: optional
Homepage: https://obsproject.com
Description: OBS Studio $upstream built on this system's Qt (not Debian's package)
 OBS Studio $upstream from Debian 13's source tarball, built on Qt $(pkg-config --modversion Qt6Core)
 with obs-websocket, for testing plugins. Left out: browser source, WebRTC,
 AJA, VLC, JACK, scripting, PipeWire, NVENC and QSV.
CONTROL
cat >pkg/libobs-dev/DEBIAN/control <<CONTROL
Package: libobs-dev
Version: $version
Architecture: $arch
Maintainer: Corvane <support@corvane.com>
Installed-Size: $(size pkg/libobs-dev)
Depends: obs-studio (= $version)
Section: libdevel
Priority: optional
Homepage: https://obsproject.com
Description: OBS Studio $upstream headers and CMake packages (not Debian's package)
 Headers, CMake packages and pkg-config files of libobs, obs-frontend-api and
 obs-websocket-api from the obs-studio package built beside it.
CONTROL
echo activate-noawait ldconfig >pkg/obs-studio/DEBIAN/triggers

mkdir -p "$out"
rm -f "$out"/*.deb
for package in obs-studio libobs-dev; do
  dpkg-deb --root-owner-group -Zxz --build "pkg/$package" "$out/${package}_${version}_$arch.deb" >/dev/null
done
ls "$out"
