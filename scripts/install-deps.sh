#!/usr/bin/env bash
# Installs what building, running and testing Dervix needs on Debian 12 or
# later. Does nothing when everything is already there. Package names carry
# no compiler version, so the release's own GCC and Clang are used.
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          libgl-dev xvfb xauth
          # the menu entry's checker, and clang with libFuzzer for the fuzz targets
          desktop-file-utils clang libclang-rt-dev python3
          # the widget tests' fonts: fontconfig needs one of several font packages, not this one
          fonts-dejavu-core)
# DejaVu Sans Mono, which the grid's tests lay out in, comes with
# fonts-dejavu-core up to Debian 12 and has a package of its own from Debian 13 on.
mono=/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ -f "$mono" ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
if [ ! -f "$mono" ] && apt-cache policy fonts-dejavu-mono 2>/dev/null | grep -q 'Candidate: [0-9]'; then
  missing+=(fonts-dejavu-mono)
fi
[ ${#missing[@]} -eq 0 ] && exit 0
# Every package must be known to this release before any is installed: a
# release that lacks one is told so by name, and the machine is left as it was.
unknown=()
for p in "${missing[@]}"; do
  candidate="$(apt-cache policy "$p" 2>/dev/null | awk '/Candidate:/ {print $2}')"
  [ -n "$candidate" ] && [ "$candidate" != "(none)" ] || unknown+=("$p")
done
if [ ${#unknown[@]} -gt 0 ]; then
  echo "install-deps: this release's package sources have no ${unknown[*]};" \
       "nothing was installed. Dervix needs Debian 12 or later (or a release with these packages)." >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
