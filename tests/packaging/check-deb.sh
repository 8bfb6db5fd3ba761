#!/usr/bin/env bash
# tests/packaging/check-deb.sh <quillet_VERSION_ARCH.deb>
# What the package does, without installing it: lintian finds no error and
# no warning; unpacked into a scratch root, its quillet says its version, its
# menu entry's command opens the list in a window whose X11 class is the
# entry's StartupWMClass, and its login switch copies the login entries.
set -euo pipefail
deb=$(realpath "$1")
tmp=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2> /dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2> /dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

echo "== lintian $(basename "$deb")"
lintian --info --fail-on error,warning "$deb"

root=$tmp/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)

echo "== $root/usr/bin/quillet --version"
said=$("$root/usr/bin/quillet" --version | head -n 1)
echo "$said"
[ "$said" = "quillet $version" ] || fail "--version said '$said', the package is $version"
# Shell completion where Debian's bash-completion, zsh and fish read it.
for f in usr/share/bash-completion/completions/quillet usr/share/zsh/vendor-completions/_quillet \
         usr/share/fish/vendor_completions.d/quillet.fish; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done

echo "== its quillet --export-ics, through /usr/libexec/quillet/quillet-ics"
mkdir -p "$tmp/list"
"$root/usr/bin/quillet" --file "$tmp/list/" --add 'Packaged' --due 2026-12-24
"$root/usr/bin/quillet" --file "$tmp/list/" --export-ics - | grep -qx 'SUMMARY:Packaged.' ||
  fail "--export-ics did not run the package's quillet-ics"
dpkg-deb -f "$deb" Depends | grep -q 'libical3' || fail "the package does not depend on libical3"

# The entry names programs under /usr; here they are under the scratch root.
menu=$root/usr/share/applications/quillet.desktop
exec_line=$(sed -n 's/^Exec=//p' "$menu")
wm_class=$(sed -n 's/^StartupWMClass=//p' "$menu")
read -r -a words <<< "$exec_line"
case ${words[0]} in
/usr/*) ;;
*) fail "the menu entry's Exec does not name an installed program: $exec_line" ;;
esac
words[0]=$root${words[0]}

home=$tmp/home
runtime=$tmp/runtime
mkdir -p "$home" "$runtime"
chmod 700 "$runtime"
start_xvfb() {
  rm -f "$tmp/display"
  exec 3> "$tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp > "$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
  done
  [ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
  display=:$(cat "$tmp/display")
}
run_entry() {
  env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$1" XDG_RUNTIME_DIR="$runtime" \
    LANG=C.UTF-8 "${words[@]}" > "$tmp/app.log" 2>&1 &
  app_pid=$!
}

echo "== the menu entry: ${words[*]}"
start_xvfb
run_entry "$display"
window=$(DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible --name '^Quillet$' | head -n 1) || true
if [ -z "$window" ] && grep -q "could not connect to display" "$tmp/app.log"; then
  kill "$app_pid" "$xvfb_pid" 2> /dev/null || true
  start_xvfb
  run_entry "$display"
  window=$(DISPLAY=$display timeout 30 xdotool search --sync --onlyvisible --name '^Quillet$' | head -n 1) || true
fi
[ -n "$window" ] || fail "no task list window: $(cat "$tmp/app.log")"
classes=$(DISPLAY=$display xprop -id "$window" WM_CLASS)
pid=$(DISPLAY=$display xprop -id "$window" _NET_WM_PID | sed 's/.* = //')
echo "$classes; shown by $(readlink "/proc/$pid/exe")"
[[ $classes == *", \"$wm_class\"" ]] || fail "the window's class is not the entry's StartupWMClass=$wm_class"
[ "$(readlink "/proc/$pid/exe")" = "$root/usr/libexec/quillet/quillet-windows" ] ||
  fail "the window is not the package's quillet-windows"
[ -d "$home/.local/share/quillet" ] || fail "the launcher did not start in ~/.local/share/quillet"
kill "$app_pid"
wait "$app_pid" 2> /dev/null || true
app_pid=""

echo "== quillet-launch --autostart on, then off"
HOME=$home "$root/usr/bin/quillet-launch" --autostart on
cmp "$root/usr/share/quillet/autostart/quillet.desktop" "$home/.config/autostart/quillet.desktop"
grep -qx 'Exec=/usr/bin/quillet-launch' "$home/.config/autostart/quillet.desktop" || fail "login entry Exec"
cmp "$root/usr/share/quillet/autostart/quillet-remind.desktop" "$home/.config/autostart/quillet-remind.desktop"
grep -qx 'Exec=/usr/bin/quillet-launch --remind' "$home/.config/autostart/quillet-remind.desktop" ||
  fail "reminders' login entry Exec"
HOME=$home "$root/usr/bin/quillet-launch" --autostart off
[ ! -e "$home/.config/autostart/quillet.desktop" ] || fail "--autostart off left the entry"
[ ! -e "$home/.config/autostart/quillet-remind.desktop" ] || fail "--autostart off left the reminders' entry"
echo "package check passed"
