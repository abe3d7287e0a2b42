#!/usr/bin/env bash
# Runs a Windows program under Wine with the module simulator behind a COM
# port: dervantix-sim plays the module on a Linux pseudo-terminal and Wine's
# registry maps the port to that terminal. The program finds the port's name
# in DERVIX_TEST_COM, and gives the simulator commands (dervantix-sim --help)
# by writing lines to the file named in DERVIX_TEST_SIM_INPUT.
#
#   scripts/wine-serial-rig.sh [--sim PATH] [--com COMn] PROGRAM.exe [ARGUMENTS...]
#
# The simulator is the Linux build's (build/dervantix-sim unless --sim or
# DERVIX_SIM says otherwise). Wine runs in a prefix of the rig's own beside
# WINEPREFIX, which must be given ("<WINEPREFIX>-serial", made when missing),
# with WINEPATH and the rest of the environment as given. Wine reads the
# mapping when its server starts, so the rig waits for its prefix's server to
# end first: in a prefix of its own, that never waits on the tests that share
# WINEPREFIX beside it.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
sim="${DERVIX_SIM:-$here/../build/dervantix-sim}"
com=COM5
while [ $# -gt 0 ]; do
  case "$1" in
    --sim) sim="$2"; shift 2 ;;
    --com) com="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -eq 0 ]; then
  echo "usage: $0 [--sim PATH] [--com COMn] PROGRAM.exe [ARGUMENTS...]" >&2
  exit 2
fi
[ -n "${WINEPREFIX:-}" ] || { echo "$0: set WINEPREFIX to the Wine prefix to use" >&2; exit 2; }
[ -x "$sim" ] || { echo "$0: no simulator at $sim (build the target dervantix-sim)" >&2; exit 2; }
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# No downloads of Mono or Gecko (there is no network), no debug chatter.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}" WINEDEBUG="${WINEDEBUG:--all}"
ports='HKLM\Software\Wine\Ports'
export WINEPREFIX="$WINEPREFIX-serial"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  "$wine" wineboot --init >/dev/null 2>&1 || { echo "$0: cannot make the Wine prefix $WINEPREFIX" >&2; exit 1; }
fi

dir=$(mktemp -d)
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null || true
  exec 3>&- || true
  # A terminal's number goes to whoever opens one next: leave no port behind.
  "$wine" reg delete "$ports" /v "$com" /f >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT

mkfifo "$dir/input"
"$sim" <"$dir/input" >"$dir/output" 2>"$dir/errors" &
simpid=$!
# Held open here as well, so the simulator never reads the end of its input.
exec 3>"$dir/input"
for _ in $(seq 100); do
  [ -s "$dir/output" ] && break
  kill -0 "$simpid" 2>/dev/null || break
  sleep 0.1
done
pty=$(head -n 1 "$dir/output")
case "$pty" in
  /dev/*) ;;
  *) echo "$0: the simulator gave no terminal: $(cat "$dir/errors")" >&2; exit 1 ;;
esac

"$wine" reg add "$ports" /v "$com" /d "$pty" /f >/dev/null 2>&1
"$wineserver" -w 2>/dev/null
echo "$0: $com is $pty" >&2

# Wine reaches every Linux path through drive Z:.
export DERVIX_TEST_COM="$com" DERVIX_TEST_SIM_INPUT="Z:${dir//\//\\}\\input"
status=0
"$wine" "$@" || status=$?
exit "$status"
