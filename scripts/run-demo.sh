#!/usr/bin/env bash
# First start on a new machine: install, build, and start Dervix against the
# simulated module (no hardware needed, the real profile is left alone).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
exec ./build/dervix --simulate "$@"
