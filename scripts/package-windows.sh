#!/usr/bin/env bash
# The Windows release: dist/dervix-<version>-windows-x64.zip (the programs
# and the Qt and mingw-w64 DLLs they need, nothing else) and the installer
# dist/dervix-<version>-windows-x64-setup.exe, made with NSIS.
#   scripts/package-windows.sh SDK_FOLDER BUILD_FOLDER
set -euo pipefail
cd "$(dirname "$0")/.."
sdk="$1"
build="$(realpath "$2")"
version="$(sed -n 's/^project(dervix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)"
name="dervix-$version-windows-x64"
stage="$build/stage/$name"
dist="$PWD/dist"
rm -rf "$stage"
mkdir -p "$stage/platforms" "$stage/styles" "$dist"
runtime="$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")"
cp "$build/dervix.exe" "$build/dervix-link.exe" "$stage/"
cp "$sdk/bin/Qt6Core.dll" "$sdk/bin/Qt6Gui.dll" "$sdk/bin/Qt6Widgets.dll" "$stage/"
cp "$sdk/plugins/platforms/qwindows.dll" "$stage/platforms/"
# Without the style the program looks like Windows 95, but it works.
cp "$sdk/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/" 2>/dev/null || rmdir "$stage/styles"
cp "$runtime/libstdc++-6.dll" "$runtime/libgcc_s_seh-1.dll" /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$stage/"
find "$stage" -type f -print0 | xargs -0 x86_64-w64-mingw32-strip --strip-unneeded
rm -f "$dist/$name.zip"
(cd "$stage/.." && zip -qrX "$dist/$name.zip" "$name")

# The uninstaller removes exactly what was installed, folders deepest first;
# a folder that still holds something else stays.
filelist="$build/stage/files.nsh"
(cd "$stage" && find . -mindepth 1 -depth -printf '%y %P\n') | while read -r type path; do
  if [ "$type" = d ]; then echo "  RMDir \"\$INSTDIR\\${path//\//\\}\""
  else echo "  Delete \"\$INSTDIR\\${path//\//\\}\""; fi
done >"$filelist"
makensis -V2 -WX -DVERSION="$version" -DSTAGE="$stage" -DFILELIST="$filelist" \
  -DSIZE_KB="$(du -sk "$stage" | cut -f1)" -DOUTFILE="$dist/$name-setup.exe" packaging/windows/dervix.nsi
ls -l "$dist/$name.zip" "$dist/$name-setup.exe"
