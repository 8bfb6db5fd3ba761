#!/usr/bin/env bash
# Installs the build into a temporary prefix and validates what a desktop
# sees: the launcher, the entries, the icon, the metainfo, the man pages,
# the wrapper's directory and the per-user login switch.
set -euo pipefail
build_dir=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
home=$tmp/home
mkdir -p "$home"
fail() {
  echo "FAIL: $*"
  exit 1
}

install_to() {
  cmake --install "$build_dir" --prefix "$1" > /dev/null
}
install_to "$prefix"

for f in bin/quillet bin/quillet-launch libexec/quillet/quillet-windows libexec/quillet/quillet-remind \
         libexec/quillet/quillet-ics libexec/quillet/quillet-sync \
         share/applications/quillet.desktop share/quillet/autostart/quillet.desktop \
         share/quillet/autostart/quillet-remind.desktop \
         share/icons/hicolor/scalable/apps/quillet.svg \
         share/metainfo/io.github.quillet.Quillet.metainfo.xml \
         share/man/man1/quillet.1 share/man/man1/quillet-launch.1 \
         share/bash-completion/completions/quillet share/zsh/vendor-completions/_quillet \
         share/fish/vendor_completions.d/quillet.fish; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
menu=$prefix/share/applications/quillet.desktop
login=$prefix/share/quillet/autostart/quillet.desktop
remind=$prefix/share/quillet/autostart/quillet-remind.desktop
desktop-file-validate "$menu" "$login" "$remind"
grep -q '^Icon=quillet$' "$menu" || fail "menu entry icon"
grep -q '^Categories=Office;ProjectManagement;$' "$menu" || fail "menu entry categories"
grep -q '^StartupWMClass=quillet$' "$menu" || fail "menu entry StartupWMClass"
# Both run the launcher by its installed path, whatever is on PATH: the menu
# entry opens the list, the login entry only alerts (and does nothing once
# the program is gone).
grep -qx "Exec=$prefix/bin/quillet-launch --show-all" "$menu" || fail "menu Exec: $(grep ^Exec "$menu")"
grep -qx "Exec=$prefix/bin/quillet-launch" "$login" || fail "login Exec: $(grep ^Exec "$login")"
grep -qx "TryExec=$prefix/bin/quillet-launch" "$login" || fail "login TryExec"
# Beside it, the reminders for the session.
grep -qx "Exec=$prefix/bin/quillet-launch --remind" "$remind" || fail "reminder Exec: $(grep ^Exec "$remind")"
grep -qx "TryExec=$prefix/bin/quillet-launch" "$remind" || fail "reminder TryExec"
# The installed front program finds its iCalendar helper in libexec.
mkdir -p "$tmp/list"
"$prefix/bin/quillet" --file "$tmp/list/" --add 'Installed' --due 2026-12-24 || fail "--add"
"$prefix/bin/quillet" --file "$tmp/list/" --export-ics - | grep -qx 'SUMMARY:Installed.' ||
  fail "--export-ics through the installed quillet-ics"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.quillet.Quillet.metainfo.xml"

# A prefix with a space and a dollar sign: the Exec path is quoted and escaped.
odd="$tmp/my apps\$"
install_to "$odd"
desktop-file-validate "$odd/share/applications/quillet.desktop" "$odd/share/quillet/autostart/quillet.desktop" \
  "$odd/share/quillet/autostart/quillet-remind.desktop"
grep -qxF "Exec=\"$tmp/my apps\\\\\$/bin/quillet-launch\" --show-all" "$odd/share/applications/quillet.desktop" ||
  fail "quoted Exec: $(grep ^Exec "$odd/share/applications/quillet.desktop")"

# The wrapper runs the installed program in the data directory, creating it:
# a stand-in program beside it reports where it was started.
launcher=$prefix/bin/quillet-launch
grep -q '^exec "$here/quillet" "$@"$' "$launcher" || fail "launcher exec line"
printf '#!/bin/sh\npwd\n' > "$prefix/bin/quillet"
for row in "|$home/.local/share/quillet" "relative|$home/.local/share/quillet" "$home/data|$home/data/quillet"; do
  out=$(HOME="$home" XDG_DATA_HOME="${row%%|*}" "$launcher")
  [ "$out" = "${row#*|}" ] || fail "XDG_DATA_HOME='${row%%|*}': wrapper ran in '$out'"
done

# The login switch copies the installed entry for this user alone, says its
# state, and removes only its own entries.
autostart() { HOME="$home" XDG_CONFIG_HOME="${config-}" "$launcher" --autostart "$@"; }
for config in "" "$home/conf"; do
  folder=${config:-$home/.config}/autostart
  [ "$(autostart status)" = off ] || fail "status before on"
  autostart on > /dev/null
  cmp -s "$login" "$folder/quillet.desktop" || fail "--autostart on did not copy the entry to $folder"
  cmp -s "$remind" "$folder/quillet-remind.desktop" || fail "--autostart on did not copy the reminders' entry to $folder"
  [ "$(autostart status)" = on ] || fail "status after on"
  sed -i 's/^X-GNOME-Autostart-enabled=true/X-GNOME-Autostart-enabled=false/' "$folder/quillet.desktop"
  [ "$(autostart status)" = off ] || fail "status of an entry the desktop turned off"
  autostart on > /dev/null
  [ "$(autostart status)" = on ] || fail "on again after the desktop turned it off"
  touch "$folder/other.desktop"
  autostart off > /dev/null
  [ ! -e "$folder/quillet.desktop" ] || fail "--autostart off left the entry"
  [ ! -e "$folder/quillet-remind.desktop" ] || fail "--autostart off left the reminders' entry"
  [ -e "$folder/other.desktop" ] || fail "--autostart off removed another program's entry"
  autostart off > /dev/null || fail "off twice"
done
unset config
for wrong in "maybe" "on extra"; do
  # shellcheck disable=SC2086
  if autostart $wrong 2> /dev/null; then fail "--autostart $wrong was accepted"; else [ $? -eq 2 ] || fail "--autostart $wrong: status"; fi
done
HOME="$home" "$launcher" --help | grep -q -- '--autostart on' || fail "launcher help"
echo "install check passed"
