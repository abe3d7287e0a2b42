#!/usr/bin/env bash
# Installs what building, running and testing Dervix needs on Debian 12 or
# later. Does nothing when everything is already there. Package names carry
# no compiler version, so the release's own GCC and Clang are used.
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          libgl-dev xvfb xauth
          # the menu entry's checker, and clang with libFuzzer for the fuzz targets
          desktop-file-utils clang libclang-rt-dev python3
          # DejaVu Sans Mono, which a grid test lays out in: fontconfig settles for any of
          # several font packages, and this one brings it (from Debian 13 on through
          # fonts-dejavu-mono, which it depends on)
          fonts-dejavu-core
          # the field trial counts the program's message boxes on its X display
          xdotool)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
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
