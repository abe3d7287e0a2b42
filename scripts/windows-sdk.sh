#!/usr/bin/env bash
# Makes the Windows SDK that scripts/windows.sh builds against: installs the
# mingw-w64 cross compilers, Wine and NSIS from Debian's packages, fetches
# Debian's own qt6-base source package (the version of the host's Qt, whose
# tools serve the cross build) and cross-builds Qt's Core, Gui, Widgets and
# Test with the Windows and offscreen platform plugins. The result goes to
# $DERVIX_SDK_CACHE (default ~/.cache/dervix), one folder per Qt version, and
# is reused when present. Prints the SDK's folder on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
cache="${DERVIX_SDK_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/dervix}"
fail() { echo "windows-sdk: $*" >&2; exit 1; }
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine64 wine xvfb xauth fonts-dejavu-core dpkg-dev nsis zip unzip acl cmake ninja-build qt6-base-dev qt6-base-dev-tools)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "windows-sdk: installing ${missing[*]}" >&2
  $sudo apt-get update -qq || fail "cannot read this machine's package sources"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null ||
    fail "cannot install ${missing[*]} from this machine's package sources"
fi

version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
upstream="${version#*:}"; upstream="${upstream%%+*}"; upstream="${upstream%%-*}"
sdk="$cache/qt-$upstream-mingw-w64"
if [ -f "$sdk/.complete" ]; then echo "$sdk"; exit 0; fi

# One build at a time: a second run waits for the first and then finds its
# SDK. Each builds in a folder of its own and moves the SDK into place only
# once it is complete, so an SDK folder is never half made.
mkdir -p "$cache"
exec 9>"$cache/.qt-$upstream.lock"
flock 9
if [ -f "$sdk/.complete" ]; then echo "$sdk"; exit 0; fi

# Debian's source packages from the same archive and suite as the machine's
# own Debian entry, read from its apt sources now: in a private apt state,
# so the machine's package configuration is left as it is.
work="$(mktemp -d "$cache/work-$upstream.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$work/src"
codename="$(. /etc/os-release; echo "${VERSION_CODENAME:-}")"
entry="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
         awk -v suite="$codename" '$2 == suite && $3 == "main" {print $1, $2; exit}')"
[ -n "$entry" ] || fail "no Debian archive entry for this release's suite in the apt sources"
read -r uri suite <<<"$entry"
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $suite main" >"$work/sources.list"
apt_opts=(-o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/dev/null
          -o Dir::State::Lists="$work/lists" -o APT::Sandbox::User=root)
apt-get "${apt_opts[@]}" update -qq || fail "cannot read Debian's source index from $uri"
# apt checks each file against the signed index; each is checked again here
# against the checksums its .dsc lists before anything is unpacked.
(cd "$work/src" && apt-get "${apt_opts[@]}" source --download-only -qq "qt6-base=$version" >/dev/null) ||
  fail "cannot fetch the source package qt6-base $version"
dsc="$(ls "$work"/src/qt6-base_*.dsc)"
(cd "$work/src" &&
  awk '/^Checksums-Sha256:/ {on = 1; next} /^[^ ]/ {on = 0} on && NF == 3 {print $1 "  " $3}' "$dsc" |
  sha256sum --quiet -c -) || fail "qt6-base's files do not match the checksums in $dsc"
(cd "$work/src" && dpkg-source --no-check -x "$dsc" qt6-base >/dev/null 2>&1) || fail "cannot unpack $dsc"
qtsrc="$work/src/qt6-base"

echo "windows-sdk: building Qt $upstream for Windows (about 15 minutes on 2 cores)" >&2
start=$SECONDS
cmake -S "$qtsrc" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$sdk" -DBUILD_SHARED_LIBS=ON \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_pkg_config=OFF -DINPUT_opengl=no \
  -DFEATURE_opengl=OFF -DFEATURE_vulkan=OFF -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF \
  -DFEATURE_printsupport=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF -DFEATURE_testlib=ON \
  -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_freetype=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_doubleconversion=OFF \
  -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_tabletevent=OFF -DQT_FEATURE_sql=OFF \
  >"$work/configure.log" 2>&1 ||
  { tail -30 "$work/configure.log" >&2; kept="$cache/qt-$upstream-configure.log"; cp "$work/configure.log" "$kept"
    fail "Qt's configure failed: $kept"; }
cmake --build "$work/build" -j "$(nproc)" >"$work/build.log" 2>&1 ||
  { grep -m5 -B2 -A5 'error' "$work/build.log" >&2; kept="$cache/qt-$upstream-build.log"; cp "$work/build.log" "$kept"
    fail "Qt's build failed: $kept"; }
# Installed for its place but staged in the work folder, then moved there.
DESTDIR="$work/stage" cmake --install "$work/build" >/dev/null
touch "$work/stage$sdk/.complete"
# A folder left by a run that was stopped half way is no SDK.
rm -rf "$sdk"
mv "$work/stage$sdk" "$sdk"
echo "windows-sdk: Qt $upstream for Windows built in $((SECONDS - start)) s, $(du -sh "$sdk" | cut -f1) in $sdk" >&2
echo "$sdk"
