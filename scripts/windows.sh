#!/usr/bin/env bash
# Builds Dervix for Windows and tests it under Wine: the SDK (made once by
# scripts/windows-sdk.sh, reused after), the cross build into ./build-win,
# every test program under Wine, and, with --package, the Windows release
# (scripts/package-windows.sh), installed and removed again under Wine
# (scripts/windows-install-check.sh).
#
#   scripts/windows.sh [--no-tests] [--package]
set -euo pipefail
cd "$(dirname "$0")/.."
tests=1
package=0
for a in "$@"; do
  case "$a" in
    --no-tests) tests=0 ;;
    --package) package=1 ;;
    *) echo "usage: $0 [--no-tests] [--package]" >&2; exit 2 ;;
  esac
done
start=$SECONDS
sdk="$(scripts/windows-sdk.sh | tail -1)"
[ -f "$sdk/.complete" ] || { echo "windows: no Windows SDK" >&2; exit 1; }
build=build-win
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_FIND_ROOT_PATH="$sdk" -DCMAKE_PREFIX_PATH=/ -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDERVIX_WERROR=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/lib/wine/wine64 >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "windows: built in $((SECONDS - start)) s"

if [ "$tests" -eq 1 ]; then
  # The serial tests and the end-to-end run have the Linux simulator behind
  # a COM port.
  scripts/build.sh build --target dervantix-sim >/dev/null
  # As a user who is not root, with WIN.INI read-only, as a lab's operator
  # has it on Windows; each in a Wine prefix of that user's own.
  # shellcheck source=scripts/wine-user.sh
  . scripts/wine-user.sh "$PWD" "$sdk"
  # The ACL entries that let him in go with this run (or with the last run
  # beside it), pass or fail.
  trap wine_user_leave EXIT
  # The end-to-end run works only in a prefix it made and marked itself; one
  # that an older run had wine-env.sh make for it has no mark: made again.
  [ -f "$build/wine-e2e/.dervix-e2e-prefix" ] || rm -rf "$build/wine-e2e"
  wine_user_owns "$build/wine" "$build/wine-serial" "$build/wine-e2e" "$build/Testing"
  # The DDE library makes windows of its own even with Qt offscreen: Wine
  # needs a display for them.
  as_wine_user bash -c '. scripts/wine-env.sh "$1" "$2/wine" offscreen &&
                        cd "$2" && xvfb-run -a ctest --output-on-failure --timeout 300 -j 2' _ "$sdk" "$PWD/$build"
  echo "windows: tests under Wine as $wine_user passed at $((SECONDS - start)) s"
  as_wine_user bash -c '. scripts/wine-env.sh "$1" "$2/wine-e2e" as-is &&
                        xvfb-run -a python3 scripts/windows_e2e.py "$2" "$3"' _ "$sdk" "$PWD/$build" "$PWD/build"
  wine_user_leave
  echo "windows: tested in $((SECONDS - start)) s"
fi
if [ "$package" -eq 1 ]; then
  scripts/package-windows.sh "$sdk" "$build"
  release="dist/dervix-$(sed -n 's/^project(dervix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-windows-x64"
  scripts/windows-install-check.sh "$release-setup.exe" "$release.zip" "$build/wine-install"
  echo "windows: packaged and checked in $((SECONDS - start)) s"
fi
