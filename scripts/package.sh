#!/usr/bin/env bash
# Builds the Debian package of Dervix into ./dist (or the folder given as $1).
# The build itself goes to ./build-package; the tests are left out of it.
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-dist}")"
scripts/install-deps.sh
# -O2 as Debian builds its packages; the package gets the programs stripped.
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDERVIX_TESTS=OFF \
      -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build-package -j "$(nproc)"
mkdir -p "$out"
(cd build-package && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
ls "$out"/*.deb
