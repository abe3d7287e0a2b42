#!/usr/bin/env bash
# The field trial (scripts/field-trial.py) on a private X display, where the
# program's message boxes are windows it can count.
#   scripts/field-trial.sh [--bin-dir DIR] [options of field-trial.py]
set -euo pipefail
cd "$(dirname "$0")/.."
# xvfb-run -a looks for a free display by the lock files in /tmp only, but
# the abstract socket of an X server is seen from every root on the machine:
# in a chroot (scripts/debian13.sh) it would pick a number another server
# holds, and the program would reach that server instead of its own.
n=99
while [ -e "/tmp/.X$n-lock" ] || grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null; do n=$((n + 1)); done
exec xvfb-run -n "$n" -s "-screen 0 1280x1024x24" python3 scripts/field-trial.py "$@"
