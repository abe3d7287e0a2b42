#!/usr/bin/env bash
# Configures and builds into ./build (or the folder given as $1). Further
# arguments are options for the configure step, except "--target NAME",
# which builds only that target (and what it needs); it may be repeated.
set -euo pipefail
cd "$(dirname "$0")/.."
dir="${1:-build}"
shift || true
configure=()
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --target) targets+=(--target "$2"); shift 2 ;;
    *) configure+=("$1"); shift ;;
  esac
done
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDERVIX_WERROR=ON ${configure[@]+"${configure[@]}"} >/dev/null
cmake --build "$dir" -j "$(nproc)" ${targets[@]+"${targets[@]}"}
