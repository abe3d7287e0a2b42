#!/usr/bin/env bash
# Takes the user guide's pictures into docs/images/: starts Dervix against
# its simulated module on a virtual X server and photographs each window.
#
#   scripts/screenshots.sh            # uses ./build (or $DERVIX_BIN_DIR)
#
# DERVIX_SHOTS_POINTS sets the desktop font size in points (default: Qt's
# own, 9 pt) and DERVIX_SHOTS_DIR the folder (default docs/images), to see
# the windows at another font. Last, the main window is taken once more at a
# large font (DERVIX_SHOTS_LARGE_POINTS, default 14) as main-window-large-font.png.
#
# Needs Xvfb, ImageMagick's import and xdotool; installs them with apt-get
# when they are missing. The program runs on a private demonstration profile
# in a temporary folder, so the user's own settings are left alone.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bin=${DERVIX_BIN_DIR:-$root/build}
out=${DERVIX_SHOTS_DIR:-$root/docs/images}
points=${DERVIX_SHOTS_POINTS:-}
large_points=${DERVIX_SHOTS_LARGE_POINTS:-14}

missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v import >/dev/null || missing+=(imagemagick)
command -v xdotool >/dev/null || missing+=(xdotool)
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
for tool in dervix dervix-link; do
  [ -x "$bin/$tool" ] || { echo "screenshots: $bin/$tool not found; build first" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config DERVIX_RUNTIME_DIR=$work/run
unset QT_QPA_PLATFORM DERVIX_PROFILE WAYLAND_DISPLAY
mkdir -p "$XDG_CONFIG_HOME/dervix"
# Between the yellow (1000000) and red (1500000) levels: a yellow badge.
cat >"$XDG_CONFIG_HOME/dervix/demo-profile.ini" <<'EOF'
[Dervix]
FlowRate=12
Rotations= 1234567
EOF

die() { echo "screenshots: $*" >&2; exit 1; }

# A display number nobody uses.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || die "Xvfb :$display did not start"
export DISPLAY=:$display

link() { "$bin/dervix-link" "$@"; }
# Starts the program with a desktop font of $1 points (empty: Qt's default).
# The font comes the way a KDE desktop hands it over: its kdeglobals file.
start_program() {
  rm -f "$XDG_CONFIG_HOME/kdeglobals"
  if [ -n "$1" ]; then
    printf '[General]\nfont=DejaVu Sans,%s,-1,5,50,0,0,0,0,0\n' "$1" >"$XDG_CONFIG_HOME/kdeglobals"
    XDG_CURRENT_DESKTOP=KDE KDE_SESSION_VERSION=5 "$bin/dervix" --simulate >"$work/dervix.log" 2>&1 &
  else
    "$bin/dervix" --simulate >"$work/dervix.log" 2>&1 &
  fi
  program_pid=$!
  for _ in $(seq 100); do link get Label3 >/dev/null 2>&1 && break; sleep 0.1; done
  link get Label3 >/dev/null || die "the program did not start: $(cat "$work/dervix.log")"
}
stop_program() {
  link set txtDVXScmd KILL 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
}
start_program "$points"

# The window with that exact caption, once it is on the screen.
window() {
  local id
  for _ in $(seq 50); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
gone() {
  for _ in $(seq 50); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  die "$1 did not close"
}
# There is no window manager: windows have no frame, so the picture is the
# window's own area of the screen (popup menus inside it included).
shoot() {
  local id=$1 file=$2 x y w h
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  import -window root -crop "${w}x${h}+${x}+${y}" +repage -strip "$out/$file"
  echo "$out/$file (${w}x${h})"
}
click() {  # window x y [double]
  xdotool mousemove --window "$1" "$2" "$3"
  sleep 0.2
  xdotool mousedown 1 sleep 0.05 mouseup 1
  [ "${4:-}" = double ] && xdotool sleep 0.05 mousedown 1 sleep 0.05 mouseup 1
  sleep 0.3
}
profile_value() { sed -n "s/^$1=//p" "$XDG_CONFIG_HOME/dervix/demo-profile.ini"; }
# "left top right bottom" of the pixels of colour $1 (#RRGGBB) inside the
# part $2 (WxH+X+Y) of the screen, relative to that part: places found by
# their colour stay right whatever the font.
find_colour() {
  import -window root -crop "$2" +repage -depth 8 txt:- |
    awk -v want="$1" -F'[,: ]+' '$0 ~ want {
        if (n++ == 0) { l = r = $1; t = b = $2 }
        if ($1 < l) l = $1; if ($1 > r) r = $1; if ($2 < t) t = $2; if ($2 > b) b = $2 }
      END { if (n) print l, t, r, b }'
}

mkdir -p "$out"
main=$(window "Corvane Dervantix") || die "no main window"
xdotool windowfocus --sync "$main"

# A flow entered and a split chosen: 12 mL/min, then a double click on the
# row below the green one (the split restored at start-up).
link set txtFlowRate 12
[ "$(link get txtFlowRate)" = 12 ] || die "the flow rate did not take"
before=$(profile_value SplitMult)
eval "$(xdotool getwindowgeometry --shell "$main")"
read -r gl gt gr gb < <(find_colour '#00FF00' "${WIDTH}x${HEIGHT}+${X}+${Y}") || die "no green row"
click "$main" $(((gl + gr) / 2)) $((gb + (gb - gt) / 2 + 2)) double
after=$(profile_value SplitMult)
[ -n "$after" ] && [ "$after" != "$before" ] || die "the double click chose no split (SplitMult $before)"
echo "split chosen: SplitMult ${before:-(none)} -> $after, SplitCode $(profile_value SplitCode)"
shoot "$main" main-window.png

# Edit > Configuration, by its access keys.
xdotool windowfocus --sync "$main"
xdotool key alt+e
sleep 0.5
shoot "$main" edit-menu.png
xdotool key c
config=$(window "Corvane Dervantix - Configuration") || die "no configuration dialog"
sleep 0.3
shoot "$config" configuration.png
xdotool key Escape
gone "Corvane Dervantix - Configuration"

# The badge on the menu bar opens the maintenance dialog; it is found by its
# olive field (a yellow badge).
eval "$(xdotool getwindowgeometry --shell "$main")"
read -r bl bt br bb < <(find_colour '#808000' "${WIDTH}x40+${X}+${Y}") || die "no badge on the menu bar"
kelm=""
for _ in 1 2 3; do
  click "$main" $(((bl + br) / 2)) $(((bt + bb) / 2))
  kelm=$(window "Corvane Dervantix - Kelm") && break
done
[ -n "$kelm" ] || die "the badge did not open the maintenance dialog"
sleep 0.3
shoot "$kelm" maintenance.png
xdotool key Escape
gone "Corvane Dervantix - Kelm"

# Help > About asks the module for its status, model and identity.
xdotool windowfocus --sync "$main"
xdotool key alt+h
sleep 0.4
xdotool key a
about=$(window "Corvane Dervantix - About") || die "no About box"
sleep 1
shoot "$about" about.png
xdotool key Escape
gone "Corvane Dervantix - About"

stop_program

# The main window once more at a large desktop font, to show that it grows.
start_program "$large_points"
main=$(window "Corvane Dervantix") || die "no main window at $large_points pt"
sleep 0.3
shoot "$main" main-window-large-font.png
stop_program
