# Sourced: the user the Windows programs run as under Wine. Not root, as a
# lab's operators are not: Wine lets root write everywhere, so a WIN.INI that
# may only be read (as Windows has it for a user without administrator
# rights) is real only for another user. Run as root, the programs run as
# $DERVIX_WINE_USER (default dervix-lab), made when missing, who is let
# through (an ACL entry "x" for that user alone) every folder above the ones
# given that would stop him; run as anyone else, as that user himself.
#   . scripts/wine-user.sh FOLDER...   then: as_wine_user COMMAND...
#                                            wine_user_owns FOLDER...
wine_user="$(id -un)"
if [ "$(id -u)" -eq 0 ]; then
  wine_user="${DERVIX_WINE_USER:-dervix-lab}"
  id -u "$wine_user" >/dev/null 2>&1 || useradd -m -s /bin/bash "$wine_user"
  for folder in "$@"; do
    path=""
    IFS=/ read -r -a parts <<<"$(realpath -m "$folder")"
    for part in "${parts[@]}"; do
      [ -n "$part" ] || continue
      path="$path/$part"
      [ -d "$path" ] || break
      runuser -u "$wine_user" -- test -x "$path" && continue
      setfacl -m "u:$wine_user:x" "$path" ||
        { echo "wine-user: cannot let $wine_user through $path" >&2; return 1; }
    done
  done
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
fi
