#!/usr/bin/env bash
# Installs what building, running and testing Dervix needs on Debian 12.
# Does nothing when everything is already there.
set -euo pipefail
packages=(build-essential cmake ninja-build qt6-base-dev qt6-serialport-dev qt6-qpa-plugins
          libgl-dev xvfb xauth
          # the menu entry's checker, and clang with libFuzzer for the fuzz targets
          desktop-file-utils clang-14 libclang-rt-14-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
