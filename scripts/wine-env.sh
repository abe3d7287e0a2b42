# Sourced: sets up Wine for the Windows programs of a build.
#   . scripts/wine-env.sh SDK_FOLDER WINE_PREFIX [offscreen|as-is]
# A prefix of the caller's own, made once; no Mono or Gecko (there is no
# network to fetch them from); the Qt and mingw-w64 DLLs found through
# WINEPATH. Wine keeps every QT_* variable of the Linux side from its
# programs, so a prefix made with "offscreen" has Qt's offscreen platform (and
# fonts for it) in its registry's environment: the tests' widgets then need
# no display, as on Linux. Without it, programs use Qt's Windows platform.
# With "as-is" only the environment is set: the prefix is neither made nor
# touched (scripts/windows_e2e.py makes its own). Returns 1, saying on
# stderr what failed, when the prefix cannot be made; every wait is bounded.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
export WINEPREFIX="$2"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$(winpath "$1/bin");$(winpath "$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")");$(winpath /usr/x86_64-w64-mingw32/lib)"
wine=/usr/lib/wine/wine64
# A command under a bound, said on stderr when it fails: under the caller's
# "set -e" a silent failure would end its stage without a word. A prefix
# takes about 12 s to make on a quiet 2-core machine and several times that
# beside two builds: 300 s is ample, yet a hung wineboot ends well inside
# CI's patience. Wine's server ends a few seconds after its last program;
# 60 s allows for a crowded machine.
wine_env_bounded() {
  local limit="$1" what="$2" said status=0
  shift 2
  said="$(mktemp)"
  timeout -k 10 "$limit" "$@" >"$said" 2>&1 || status=$?
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "wine-env: $what did not end within $limit s (Wine prefix $WINEPREFIX)" >&2
  elif [ "$status" -ne 0 ]; then
    echo "wine-env: $what failed with status $status (Wine prefix $WINEPREFIX): $(tail -5 "$said")" >&2
  fi
  rm -f "$said"
  return "$status"
}
wine_env_set() {
  wine_env_bounded 60 "setting $1 in the registry (reg add)" "$wine" reg add 'HKCU\Environment' /v "$1" /d "$2" /f
}
wine_env_make() {
  mkdir -p "$WINEPREFIX" || return 1
  wine_env_bounded 300 "making the prefix (wineboot --init)" "$wine" wineboot --init &&
    if [ "${1:-}" = offscreen ]; then
      wine_env_set QT_QPA_PLATFORM offscreen &&
        wine_env_set QT_QPA_FONTDIR "$(winpath /usr/share/fonts/truetype/dejavu)"
    fi &&
    wine_env_bounded 60 "Wine's server (wineserver -w; does a program still run in the prefix?)" \
      wineserver -w && return 0
  # Its server writes system.reg as it ends: without it, the next run takes
  # the prefix for unmade and makes it again.
  timeout 30 wineserver -k 2>/dev/null; timeout 30 wineserver -w 2>/dev/null
  rm -f "$WINEPREFIX/system.reg"
  return 1
}
if [ "${3:-}" != as-is ]; then
  if [ ! -f "$WINEPREFIX/system.reg" ]; then wine_env_make "${3:-}" || return 1; fi
  # As Windows has it for a user without administrator rights (for root,
  # Wine writes it all the same).
  if [ -f "$WINEPREFIX/drive_c/windows/win.ini" ]; then chmod a-w "$WINEPREFIX/drive_c/windows/win.ini"; fi
fi
