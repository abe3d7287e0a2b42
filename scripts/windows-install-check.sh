#!/usr/bin/env bash
# Installs the Windows release under Wine and removes it again, as an
# operator would, in a fresh prefix: the silent installer; the release's
# files in Program Files\Dervix, the Start-menu entry, the entry in
# Add/Remove Programs and the mapping of WIN.INI's [Dervix] to the user's
# registry in both registry views; the installed program started with its
# simulated module and reached over DDE by the installed dervix-link; the
# silent uninstaller; then nothing of the installation left, the user's
# values in HKCU\Software\Dervix and the [Dervix] section of WIN.INI as they
# were. No WINEPATH leads to the SDK: the programs find only the DLLs and
# plugins that were installed.
#   scripts/windows-install-check.sh SETUP_EXE ZIP FOLDER
# The prefix and the check's own files are made afresh inside FOLDER (made
# when missing), and only they are removed: nothing else in FOLDER is
# touched. A failed check leaves them there for a look, and says on stderr
# what failed; every wait is bounded.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 SETUP_EXE ZIP FOLDER" >&2
  exit 2
fi
# DDE and Qt's Windows platform need a display; a display of its own, so
# that no window turns up on the developer's.
if [ -z "${DERVIX_CHECK_DISPLAY:-}" ]; then
  DERVIX_CHECK_DISPLAY=1 exec xvfb-run -a "$0" "$@"
fi
started=$(date +%s%N)
setup="$(realpath "$1")"
zip="$(realpath "$2")"
mkdir -p "$3"
WINEPREFIX="$(mktemp -d "$(realpath "$3")/prefix.XXXXXX")"
work="$(mktemp -d "$(realpath "$3")/check.XXXXXX")"
export WINEPREFIX WINEDEBUG=-all
# No Mono or Gecko to fetch, and no menu entries for the Linux desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset WINEPATH
wine=/usr/lib/wine/wine64
say() { printf 'windows install check: %s (%s s)\n' "$1" "$(elapsed)"; }
elapsed() { local ms=$((($(date +%s%N) - started) / 1000000)); printf '%d.%d' $((ms / 1000)) $((ms % 1000 / 100)); }
fail() { echo "windows install check FAILED: $*" >&2; exit 1; }
# Whatever this prefix still runs ends with the check.
trap 'timeout 30 wineserver -k 2>/dev/null || true' EXIT
# Bounds, in seconds. A prefix takes about 12 s to make on a quiet 2-core
# machine and several times that beside two builds: 300 s is ample, yet a
# hung wineboot ends well inside CI's patience. The installer and the
# uninstaller take a few seconds: 180 s allows for a crowded machine and is
# still no hang. One registry call or one request over DDE takes well under
# a second once Wine runs: 60 s is room enough.
prefix_limit=300
setup_limit=180
call_limit=60
# A Wine program under a bound; a failure says which, and what it said.
bounded() {
  local limit="$1" what="$2" status=0
  shift 2
  timeout -k 10 "$limit" "$wine" "$@" >"$work/said" 2>&1 || status=$?
  case "$status" in
    0) ;;
    124|137) fail "$what did not end within $limit s" ;;
    *) fail "$what ended with status $status: $(tail -5 "$work/said")" ;;
  esac
}
# The server ends a few seconds after its last program, and only then is the
# registry on disk; a program still running past the limit is a failure.
settle() { timeout 60 wineserver -w || fail "$1"; }
dervix_section() { awk 'tolower($0) ~ /^\[/ { inside = tolower($0) ~ /^\[dervix\]/ } inside' "$ini"; }
has_uninstall_key() { grep -qF '[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Dervix]' "$WINEPREFIX/system.reg"; }
mapping='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\IniFileMapping\win.ini'
mapped() {
  timeout -k 10 "$call_limit" "$wine" reg query "$mapping" /v Dervix "/reg:$1" >"$work/query" 2>/dev/null
  grep -qF 'USR:Software\Dervix' "$work/query"
}

bounded "$prefix_limit" "making the Wine prefix $WINEPREFIX (wineboot --init)" wineboot --init
ini="$WINEPREFIX/drive_c/windows/win.ini"
printf '[Dervix]\r\nCommPort=2\r\nModuleID=1\r\nSettings=19200,N,8,1\r\nSplitcode=7\r\nRotations=1000\r\n' >>"$ini"
dervix_section >"$work/section.before"
[ -s "$work/section.before" ] || fail "no [Dervix] section could be put into $ini"
say "fresh prefix, WIN.INI with a [Dervix] section"

bounded "$setup_limit" "the installer" "$setup" /S
dir="$WINEPREFIX/drive_c/Program Files/Dervix"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Dervix.lnk"
[ -f "$dir/Uninstall.exe" ] || fail "no uninstaller in C:\\Program Files\\Dervix"
unzip -q "$zip" -d "$work/zip"
diff -r -x Uninstall.exe "$work/zip/"* "$dir" >"$work/diff" ||
  fail "C:\\Program Files\\Dervix does not hold the zip's files: $(cat "$work/diff")"
[ -f "$shortcut" ] || fail "no Start-menu entry Dervix.lnk"
grep -aqF 'Dervix\dervix.exe' "$shortcut" || fail "the Start-menu entry does not start dervix.exe"
mapped 64 && mapped 32 || fail "WIN.INI's [Dervix] is not mapped to HKCU\\Software\\Dervix in both registry views"
say "installed: $(find "$dir" -type f | wc -l) files, the Start-menu entry, [Dervix] mapped in both views"

# Started from the installed folder: every DLL it loads comes from there.
exe='C:\Program Files\Dervix'
"$wine" "$exe\\dervix.exe" --simulate >"$work/dervix.out" 2>&1 &
program=$!
link() {
  local status=0
  timeout -k 10 "$call_limit" "$wine" "$exe\\dervix-link.exe" "$@" 2>>"$work/link.err" || status=$?
  case "$status" in
    124|137) echo "dervix-link.exe $* did not end within $call_limit s" >>"$work/link.err"; return 124 ;;
  esac
  return "$status"
}
flow=
for _ in $(seq 60); do
  status=0
  flow=$(link get txtFlowRate) || status=$?
  [ "$status" -eq 0 ] && break
  # A request that hangs does not end by asking again.
  [ "$status" -ne 124 ] || break
  kill -0 "$program" 2>/dev/null || fail "dervix.exe --simulate ended at start: $(cat "$work/dervix.out")"
  sleep 0.5
done
[ -n "$flow" ] || fail "dervix.exe does not answer over DDE: $(tail -1 "$work/link.err")"
# The module's reply to START is what writes the start time.
link set txtDVXScmd START || fail "START refused over DDE: $(tail -1 "$work/link.err")"
demo="$(find "$WINEPREFIX/drive_c/users" -name demo-profile.ini | head -1)"
for _ in $(seq 50); do
  grep -q '^Running=.' "$demo" 2>/dev/null && break
  sleep 0.1
done
grep -q '^Running=.' "$demo" 2>/dev/null || fail "the simulated module did not answer START (demo profile: ${demo:-none})"
say "dervix.exe runs: flow rate $flow over DDE, START answered by the simulated module"
link set txtDVXScmd KILL || fail "KILL refused over DDE: $(tail -1 "$work/link.err")"
timeout 20 tail --pid="$program" -f /dev/null || fail "dervix.exe still runs after KILL"
wait "$program" || fail "dervix.exe ended with status $?: $(cat "$work/dervix.out")"
settle "a program still runs after dervix.exe ended"
has_uninstall_key || fail "no entry in Add/Remove Programs"
say "KILL ended it; the entry in Add/Remove Programs is there"

# A user's values, which the uninstaller must leave.
bounded "$call_limit" "writing HKCU\\Software\\Dervix (reg add)" reg add 'HKCU\Software\Dervix' /v Rotations /d 1234567 /f
# The uninstaller runs a copy of itself from the temp folder and returns at
# once; the server's end is the copy's end.
bounded "$setup_limit" "the uninstaller" "$exe\\Uninstall.exe" /S
settle "the uninstaller did not end"
[ ! -e "$dir" ] || fail "C:\\Program Files\\Dervix is still there: $(cd "$dir" && find . -mindepth 1)"
[ ! -e "$shortcut" ] || fail "the Start-menu entry is still there"
! has_uninstall_key || fail "the entry in Add/Remove Programs is still there"
! mapped 64 && ! mapped 32 || fail "the mapping of WIN.INI's [Dervix] is still there"
timeout -k 10 "$call_limit" "$wine" reg query 'HKCU\Software\Dervix' /v Rotations 2>/dev/null | grep -qF 1234567 ||
  fail "the uninstall removed the user's values in HKCU\\Software\\Dervix"
dervix_section | cmp -s - "$work/section.before" ||
  fail "the uninstall changed WIN.INI's [Dervix] section: $(dervix_section | diff "$work/section.before" -)"
say "uninstalled: folder, Start-menu entry, Add/Remove Programs entry and mapping gone; the user's values and WIN.INI's [Dervix] kept"
# Some 700 MB, made afresh each time.
rm -rf "$work" "$WINEPREFIX"
printf 'windows install check: passed in %s s; zip %s bytes, installer %s bytes\n' \
  "$(elapsed)" "$(stat -c %s "$zip")" "$(stat -c %s "$setup")"
