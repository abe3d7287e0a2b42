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
# WINEPREFIX beside it. Every wait is bounded, the program's too
# (DERVIX_RIG_TIMEOUT seconds, default 240), and each failure says on stderr
# what failed.
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
# Bounds, in seconds. A prefix takes about 12 s to make on a quiet 2-core
# machine and several times that beside two builds: 300 s is ample, and a
# hung wineboot still ends well inside CI's patience. The server ends a few
# seconds after its last program: 60 s allows for a crowded machine. The
# program's default stays below ctest's 300 s, so that a hung test is
# reported and its port mapping removed here rather than killed from outside.
prefix_limit=300
server_limit=60
program_limit="${DERVIX_RIG_TIMEOUT:-240}"
# A command under a bound; on failure, what failed, where and what it said.
bounded() {
  local limit="$1" what="$2" status=0
  shift 2
  timeout -k 10 "$limit" "$@" >"$dir/said" 2>&1 || status=$?
  [ "$status" -eq 0 ] && return 0
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "$0: $what did not end within $limit s (Wine prefix $WINEPREFIX)" >&2
  else
    echo "$0: $what failed with status $status (Wine prefix $WINEPREFIX): $(tail -5 "$dir/said")" >&2
  fi
  return 1
}

dir=$(mktemp -d)
simpid=
mapped=0
cleanup() {
  if [ -n "$simpid" ] && kill "$simpid" 2>/dev/null; then
    timeout 10 tail --pid="$simpid" -f /dev/null || kill -9 "$simpid" 2>/dev/null || true
  fi
  exec 3>&- || true
  # A terminal's number goes to whoever opens one next: leave no port behind.
  if [ "$mapped" -eq 1 ]; then
    bounded "$server_limit" "removing the mapping of $com" "$wine" reg delete "$ports" /v "$com" /f || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  if ! bounded "$prefix_limit" "making the Wine prefix (wineboot --init)" "$wine" wineboot --init; then
    # Its server writes system.reg as it ends: without it, the next run
    # takes the prefix for unmade and makes it again.
    timeout 30 "$wineserver" -k 2>/dev/null; timeout 30 "$wineserver" -w 2>/dev/null
    rm -f "$WINEPREFIX/system.reg"
    exit 1
  fi
fi

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

mapped=1
bounded "$server_limit" "mapping $com to $pty (reg add $ports)" "$wine" reg add "$ports" /v "$com" /d "$pty" /f || exit 1
bounded "$server_limit" "Wine's server (wineserver -w; does a program still run in the prefix?)" \
  "$wineserver" -w || exit 1
echo "$0: $com is $pty" >&2

# Wine reaches every Linux path through drive Z:.
export DERVIX_TEST_COM="$com" DERVIX_TEST_SIM_INPUT="Z:${dir//\//\\}\\input"
status=0
# In the foreground, so that Ctrl-C at a terminal reaches it.
timeout --foreground -k 10 "$program_limit" "$wine" "$@" || status=$?
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
  echo "$0: $1 did not end within $program_limit s (DERVIX_RIG_TIMEOUT)" >&2
fi
exit "$status"
