#!/usr/bin/env bash
# The field trial (scripts/field-trial.py) on a private X display, where the
# program's message boxes are windows it can count.
#   scripts/field-trial.sh [--bin-dir DIR] [options of field-trial.py]
set -euo pipefail
cd "$(dirname "$0")/.."
exec xvfb-run -a -s "-screen 0 1280x1024x24" python3 scripts/field-trial.py "$@"
