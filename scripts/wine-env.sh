# Sourced: sets up Wine for the Windows programs of a build.
#   . scripts/wine-env.sh SDK_FOLDER WINE_PREFIX
# A prefix of the build's own, made once; no Mono or Gecko (there is no
# network to fetch them from); the Qt and mingw-w64 DLLs found through
# WINEPATH; Qt's offscreen platform, so no display is needed.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$(winpath "$1/bin");$(winpath "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")");$(winpath /usr/x86_64-w64-mingw32/lib)"
export QT_PLUGIN_PATH="$(winpath "$1/plugins")"
export QT_QPA_PLATFORM=offscreen
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
