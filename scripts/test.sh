#!/usr/bin/env bash
# Installs what is needed, builds from scratch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
rm -rf build-test
scripts/build.sh build-test
cd build-test
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j 2
