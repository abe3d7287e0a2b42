#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time (in
# seconds, $1, default 25) from its seed corpus in fuzz/corpus/<name>/. The
# corpus is copied first, so what the fuzzer adds stays out of the source
# tree. A target that finds a fault leaves its input in build-fuzz/findings/
# and makes the script fail; rerun that input with
#   build-fuzz/fuzz/fuzz_<name> build-fuzz/findings/<file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-25}"
build=build-fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DDERVIX_FUZZ=ON -DDERVIX_TESTS=OFF -DDERVIX_WERROR=ON >/dev/null
cmake --build "$build" --target fuzz -j "$(nproc)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
findings="$PWD/$build/findings"
mkdir -p "$findings"
passed=0
failed=0
for name in receive profile link; do
  corpus="$work/$name"
  mkdir -p "$corpus"
  cp fuzz/corpus/"$name"/* "$corpus"/ 2>/dev/null || true
  # Link requests may be longer than a line may be.
  max_len=4096
  [ "$name" = link ] && max_len=8192
  log="$work/$name.log"
  if "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -max_len="$max_len" -print_final_stats=1 -artifact_prefix="$findings/$name-" "$corpus" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "fuzz_$name: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs in ${seconds} s," \
         "$(ls "$corpus" | wc -l) inputs in the corpus, nothing found"
  else
    failed=$((failed + 1))
    echo "fuzz_$name FOUND A FAULT; the input is in $findings:"
    grep -vE '^(#[0-9]+|INFO:|MERGE|stat::)' "$log" | tail -60
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
