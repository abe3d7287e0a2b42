#!/usr/bin/env bash
# Installs what is needed, builds from scratch and runs every test: the
# ordinary build and its tests, a field trial of the real program, the same
# tests built with AddressSanitizer and UndefinedBehaviorSanitizer, a
# Release build of the programs, then each fuzz target for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
start=$SECONDS
stage() { echo "==== $1 (at $((SECONDS - start)) s)"; }

stage "build and tests"
rm -rf build-test
scripts/build.sh build-test
(cd build-test && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j 2)

stage "field trial"
# The real program on its real serial path, driven for a couple of minutes
# as a lab drives it: pollers, replugs, clients that leave, a flapping log.
scripts/field-trial.sh --bin-dir build-test

stage "build and tests with AddressSanitizer and UndefinedBehaviorSanitizer"
rm -rf build-asan
scripts/build.sh build-asan -DDERVIX_SANITIZE=ON
# Any report fails the test that caused it, leaks included; the programs the
# tests start inherit the same options. The short soak and the slow link
# reader are left out here: they judge resident memory, which the
# sanitizer's quarantine of freed memory makes grow by design.
(cd build-asan &&
  QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:strict_init_order=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure --timeout 600 -j 2 -E '^(soak_short|link_slow_reader)$')

stage "release build of the programs, as a user or a packager builds them"
# Each build type optimises differently, and GCC warns differently at -O3:
# a warning here fails the run, so a user's Release build never meets it.
rm -rf build-release
scripts/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DDERVIX_TESTS=OFF

stage "fuzzing"
scripts/fuzz.sh 25

stage "done"
