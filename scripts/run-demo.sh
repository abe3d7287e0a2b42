#!/usr/bin/env bash
# First start on a new machine: install, build, and start Dervix against the
# simulated module (no hardware needed, the real profile is left alone).
# Only the program is built here (the simulator runs inside it); the test
# programs are built by scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build --target dervix --target dervix-link
exec ./build/dervix --simulate "$@"
