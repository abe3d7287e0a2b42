#!/usr/bin/env bash
# Proves the source tree on Debian 13 from this machine: makes a fresh
# Debian 13 root with debootstrap, runs the README's install step inside it,
# builds with warnings as errors and runs every CTest test and the field
# trial (scripts/field-trial.sh) there. With a
# .deb given (--deb FILE), also installs that package in the root and starts
# the installed program.
#
#   scripts/debian13.sh [--root DIR] [--keep] [--deb FILE] [--run COMMAND]
#
# --run runs COMMAND in the root's /src instead of the stage (for a look at
# a failure; with --root and --keep the root is reused).
#
# The root lives in its own mount namespace and PID namespace: /proc, /dev and
# /dev/pts are mounted only there (a /dev of its own on tmpfs, never the
# host's), so nothing stays mounted when the stage ends and nothing done
# inside can remove a host device. Needs root (debootstrap, mknod, chroot).
set -euo pipefail
cd "$(dirname "$0")/.."
src="$PWD"
suite=trixie
root=""
keep=0
deb=""
run=""
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root="$2"; shift 2 ;;
    --keep) keep=1; shift ;;
    --deb) deb="$(realpath "$2")"; shift 2 ;;
    --run) run="$2"; shift 2 ;;
    *) echo "usage: $0 [--root DIR] [--keep] [--deb FILE] [--run COMMAND]" >&2; exit 2 ;;
  esac
done
fail() { echo "debian13: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "needs root (debootstrap, chroot); run it with sudo"

if ! command -v debootstrap >/dev/null; then
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    debootstrap debian-archive-keyring >/dev/null ||
    fail "cannot install debootstrap from this machine's package sources"
fi
# A root this run makes is this run's to remove (unless kept); one that was
# there before, given with --root, is the caller's and stays.
made=0
if [ -z "$root" ]; then
  root="$(mktemp -d /var/tmp/dervix-debian13.XXXXXX)"
  made=1
elif [ ! -e "$root" ]; then
  mkdir -p "$root"
  made=1
fi
# It becomes "/": mktemp's 0700 would shut every other user out of it.
[ "$made" -eq 0 ] || chmod 755 "$root"
cleanup() {
  # Only once no process of the stage is left: the mounts died with the
  # namespace, so rm never meets /dev or /proc.
  if [ "$made" -eq 1 ] && [ "$keep" -eq 0 ] && [ -d "$root" ]; then rm -rf --one-file-system "$root"; fi
}
trap cleanup EXIT

if [ ! -x "$root/usr/bin/apt-get" ]; then
  echo "== making a Debian 13 root in $root"
  # debootstrap's default mirror is Debian's own archive; the keyring proves it.
  if ! debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
      "$suite" "$root" >"$root.debootstrap.log" 2>&1; then
    tail -5 "$root.debootstrap.log" >&2
    fail "could not make a Debian 13 root (no network, or the archive cannot be reached): see $root.debootstrap.log"
  fi
  rm -f "$root.debootstrap.log"
fi

# The tree as it stands (committed or not), without build folders; a kept
# root keeps its build folder, so a second run builds only what changed.
mkdir -p "$root/src"
git -C "$src" ls-files -z --cached --others --exclude-standard |
  (cd "$src" && xargs -0 tar cf - --no-recursion) | tar xf - -C "$root/src"
[ -n "$deb" ] && cp "$deb" "$root/src/"
cp /etc/resolv.conf "$root/etc/resolv.conf"

inner='set -euo pipefail
cd /src
export LANG=C.UTF-8 HOME=/root
if [ -n "$DERVIX_RUN" ]; then exec bash -c "$DERVIX_RUN"; fi
start=$SECONDS
echo "== install step (scripts/install-deps.sh)"
scripts/install-deps.sh
echo "== build (at $((SECONDS - start)) s)"
scripts/build.sh build
echo "== tests (at $((SECONDS - start)) s)"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 -j 2)
echo "== field trial (at $((SECONDS - start)) s)"
# The real program under Xvfb as a lab drives it, with the Qt of this
# release; a shorter load than on the host. Every wait in it is bounded.
timeout 600 scripts/field-trial.sh --bin-dir build --poll-seconds 20
if [ -n "$DERVIX_DEB" ]; then
  echo "== the Debian 12 package on Debian 13 (at $((SECONDS - start)) s)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "./$DERVIX_DEB" >/dev/null
  dervix --version
  run=$(mktemp -d)
  export DERVIX_PROFILE=$run/profile.ini DERVIX_RUNTIME_DIR=$run/rt DERVIX_LOG=$run/Dervix.txt QT_QPA_PLATFORM=offscreen
  printf "[Dervix]\nLogging=1\n" >"$run/demo-profile.ini"
  dervix --simulate & pid=$!
  # Started, checked the simulated module and, on its answer, sent it the
  # saved split code: the log shows that request after the one for CHECK.
  sent=""
  for _ in $(seq 100); do
    sent=$(sed -n "s/.*Send Command - \[ *\([0-9][0-9]*\)\].*/\1/p" "$run/Dervix.txt" 2>/dev/null | head -1 || true)
    [ -n "$sent" ] && break
    sleep 0.1
  done
  echo "the installed dervix checked the module and sent it the split code [$sent]"
  # Every wait is bounded: a program that does not answer KILL (a box open
  # on the offscreen platform) is killed, never waited for.
  timeout 10 dervix-link set txtDVXScmd KILL >/dev/null 2>&1 || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid"
    echo "the installed program did not end on KILL"; cat "$run/Dervix.txt"; exit 1
  fi
  wait "$pid" || true
  [ -n "$sent" ] || { echo "the installed program did not get past the check"; cat "$run/Dervix.txt"; exit 1; }
fi
echo "== done (at $((SECONDS - start)) s)"'

# A private mount namespace (its mounts vanish with it) and a PID namespace
# (every process the tests leave behind ends with the stage).
unshare --mount --propagation private --pid --fork env \
  ROOT="$root" INNER="$inner" DERVIX_DEB="$(basename "${deb:-}")" DERVIX_RUN="$run" \
  bash -c '
    set -euo pipefail
    mount -t proc proc "$ROOT/proc"
    mount -t sysfs -o ro sysfs "$ROOT/sys"
    mount -t tmpfs -o mode=755,nosuid dev "$ROOT/dev"
    for n in "null 1 3" "zero 1 5" "full 1 7" "random 1 8" "urandom 1 9" "tty 5 0"; do
      set -- $n; mknod -m 666 "$ROOT/dev/$1" c "$2" "$3"
    done
    mkdir "$ROOT/dev/pts" "$ROOT/dev/shm"
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$ROOT/dev/pts"
    ln -s pts/ptmx "$ROOT/dev/ptmx"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$ROOT/dev/shm"
    ln -s /proc/self/fd "$ROOT/dev/fd"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$ROOT/tmp"
    exec chroot "$ROOT" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      TERM="${TERM:-dumb}" DERVIX_DEB="$DERVIX_DEB" DERVIX_RUN="$DERVIX_RUN" CI="${CI:-}" \
      /bin/bash -c "$INNER"
  '
