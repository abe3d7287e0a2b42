# Sourced: sets up Wine for the Windows programs of a build.
#   . scripts/wine-env.sh SDK_FOLDER WINE_PREFIX [offscreen]
# A prefix of the caller's own, made once; no Mono or Gecko (there is no
# network to fetch them from); the Qt and mingw-w64 DLLs found through
# WINEPATH. Wine keeps every QT_* variable of the Linux side from its
# programs, so a prefix made with "offscreen" has Qt's offscreen platform (and
# fonts for it) in its registry's environment: the tests' widgets then need
# no display, as on Linux. Without it, programs use Qt's Windows platform.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$(winpath "$1/bin");$(winpath "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")");$(winpath /usr/x86_64-w64-mingw32/lib)"
wine=/usr/lib/wine/wine64
# Said, not swallowed: under the caller's "set -e" a silent failure would end
# its stage without a word.
wine_env_set() {
  "$wine" reg add 'HKCU\Environment' /v "$1" /d "$2" /f >/dev/null 2>&1 ||
    { echo "wine-env: cannot set $1 in the registry of $WINEPREFIX" >&2; return 1; }
}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || true
  if [ "${3:-}" = offscreen ]; then
    wine_env_set QT_QPA_PLATFORM offscreen || return 1
    wine_env_set QT_QPA_FONTDIR "$(winpath /usr/share/fonts/truetype/dejavu)" || return 1
  fi
  wineserver -w 2>/dev/null || true
fi
# As Windows has it for a user without administrator rights (for root, Wine
# writes it all the same).
if [ -f "$WINEPREFIX/drive_c/windows/win.ini" ]; then chmod a-w "$WINEPREFIX/drive_c/windows/win.ini"; fi
