# Sourced: the user the Windows programs run as under Wine. Not root, as a
# lab's operators are not: Wine lets root write everywhere, so a WIN.INI that
# may only be read (as Windows has it for a user without administrator
# rights) is real only for another user. Run as root, the programs run as
# $DERVIX_WINE_USER (default dervix-lab), made when missing, who is let
# through (an ACL entry "x" for that user alone) every folder above the ones
# given that would stop him; run as anyone else, as that user himself.
#   . scripts/wine-user.sh FOLDER...   then: as_wine_user COMMAND...
#                                            wine_user_owns FOLDER...
#                                            wine_user_leave
# wine_user_leave (call it on every way out) takes those ACL entries away
# again, each as it was before, once no other run needs them: runs at the same
# time share them through /var/lib/dervix/wine-user-USER.acl, which lists the
# entries added and what each folder had before, and the last run to leave
# removes them, with any a killed run left. The user himself stays, and so do
# the folders given to wine_user_owns: later runs reuse him and the Wine
# prefixes he owns (a new user would have them made again, a minute's work),
# and a run of another checkout may be using him. Remove him, once no run is
# left (pgrep -u dervix-lab finds nothing), with: userdel -r dervix-lab
wine_user="$(id -un)"
if [ "$(id -u)" -eq 0 ]; then
  wine_user="${DERVIX_WINE_USER:-dervix-lab}"
  if ! id -u "$wine_user" >/dev/null 2>&1; then
    # Another run may make him at the same moment.
    useradd -m -s /bin/bash "$wine_user" || id -u "$wine_user" >/dev/null 2>&1 ||
      { echo "wine-user: cannot make the user $wine_user" >&2; return 1; }
  fi
  wine_user_state="/var/lib/dervix/wine-user-$wine_user"
  mkdir -p "$wine_user_state.runs" || return 1
  # The record and the entries change under one lock. It is held for
  # seconds at most (a few setfacl); two minutes is ample on a crowded
  # machine, and a run that gets no lock says so.
  wine_user_locked() {
    local fd status=0
    exec {fd}>>"$wine_user_state.lock"
    if flock -w 120 "$fd"; then "$@" || status=$?
    else echo "wine-user: $wine_user_state.lock still held after 120 s" >&2; status=1; fi
    exec {fd}>&-
    return "$status"
  }
  # A run is its shell's process, known by its start time too: a number
  # reused by another process is not taken for a run.
  wine_user_start_time() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }
  wine_user_join() {
    local folder part path before
    wine_user_start_time $$ >"$wine_user_state.runs/$$" || return 1
    for folder in "$@"; do
      path=""
      IFS=/ read -r -a parts <<<"$(realpath -m "$folder")"
      for part in "${parts[@]}"; do
        [ -n "$part" ] || continue
        path="$path/$part"
        [ -d "$path" ] || break
        runuser -u "$wine_user" -- test -x "$path" && continue
        before="$(getfacl -cp "$path" 2>/dev/null | sed -n "s/^user:$wine_user:\([rwx-]*\).*/\1/p")"
        # Recorded first: an entry is never there without its line.
        printf '%s %s\n' "${before:--}" "$path" >>"$wine_user_state.acl" &&
          setfacl -m "u:$wine_user:x" "$path" ||
          { echo "wine-user: cannot let $wine_user through $path" >&2; return 1; }
      done
    done
  }
  wine_user_undo() {
    local ticket pid others="" before path acl kept=""
    rm -f "$wine_user_state.runs/$$"
    for ticket in "$wine_user_state.runs"/*; do
      [ -e "$ticket" ] || continue
      pid="${ticket##*/}"
      if [ "$(wine_user_start_time "$pid")" = "$(cat "$ticket")" ]; then others="$others $pid"
      else rm -f "$ticket"; fi
    done
    [ -s "$wine_user_state.acl" ] || return 0
    # A run of a checkout whose scripts keep no record shows only by its
    # processes. This run's Wine servers end a few seconds after their last
    # program: 30 s allows for a crowded machine.
    [ -n "$others" ] ||
      timeout 30 bash -c 'while pgrep -u "$1" >/dev/null; do sleep 0.5; done' _ "$wine_user" ||
      others=" $(pgrep -u "$wine_user" | head -1)"
    if [ -n "$others" ]; then
      echo "wine-user: the ACL entries for $wine_user stay for the run that still uses them (process$others)" >&2
      return 0
    fi
    while read -r before path; do
      [ -e "$path" ] || continue
      if [ "$before" = - ]; then setfacl -x "u:$wine_user" "$path"
      else setfacl -m "u:$wine_user:$before" "$path"; fi || { kept="$kept$before $path"$'\n'; continue; }
      # Nothing left beside the mask setfacl keeps: the plain mode, as before.
      acl="$(getfacl -cp "$path")"
      grep -qvE '^(user::|group::|other::|mask::|$)' <<<"$acl" || setfacl -b "$path"
    done <"$wine_user_state.acl"
    printf '%s' "$kept" >"$wine_user_state.acl"
    [ -z "$kept" ] || { echo "wine-user: cannot take these ACL entries for $wine_user away: $kept" >&2; return 1; }
  }
  wine_user_joined=1
  wine_user_leave() {
    [ "$wine_user_joined" -eq 1 ] || return 0
    wine_user_joined=0
    wine_user_locked wine_user_undo
  }
  wine_user_locked wine_user_join "$@" || { wine_user_leave; return 1; }
  # The environment as it is (WINEPREFIX, WINEPATH, DISPLAY, ...), with the
  # user's own home.
  as_wine_user() { runuser -u "$wine_user" -- env HOME="$(getent passwd "$wine_user" | cut -d: -f6)" "$@"; }
  # Made anew when someone else's: a Wine prefix must belong to its user.
  wine_user_owns() {
    local f
    for f in "$@"; do
      if [ -e "$f" ] && [ "$(stat -c %U "$f")" != "$wine_user" ]; then rm -rf "$f"; fi
      install -d -o "$wine_user" "$f"
    done
  }
else
  as_wine_user() { "$@"; }
  wine_user_owns() { mkdir -p "$@"; }
  wine_user_leave() { :; }
fi
