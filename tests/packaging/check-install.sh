#!/usr/bin/env bash
# Installs the build into a temporary prefix and validates what a desktop
# sees: the launcher, the icon, the metainfo and the wrapper's directory.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
home=$(mktemp -d)
trap 'rm -rf "$prefix" "$home"' EXIT

cmake --install "$build_dir" --prefix "$prefix" > /dev/null

for f in bin/quillet bin/quillet-launch libexec/quillet/quillet-windows share/applications/quillet.desktop \
         share/icons/hicolor/scalable/apps/quillet.svg \
         share/metainfo/io.github.quillet.Quillet.metainfo.xml; do
  [ -e "$prefix/$f" ] || { echo "missing $f"; exit 1; }
done
desktop-file-validate "$prefix/share/applications/quillet.desktop"
grep -q '^Icon=quillet$' "$prefix/share/applications/quillet.desktop"
grep -q '^Categories=Office;ProjectManagement;$' "$prefix/share/applications/quillet.desktop"
# The menu entry opens the list; the login entry only alerts.
grep -q '^Exec=quillet-launch --show-all$' "$prefix/share/applications/quillet.desktop"
grep -q '^Exec=quillet-launch$' "$prefix/share/quillet/quillet-autostart.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.quillet.Quillet.metainfo.xml"

# The wrapper runs the installed program in the data directory, creating it:
# a stand-in program beside it reports where it was started.
grep -q '^exec "$here/quillet" "$@"$' "$prefix/bin/quillet-launch"
printf '#!/bin/sh\npwd\n' > "$prefix/bin/quillet"
out=$(HOME="$home" XDG_DATA_HOME= "$prefix/bin/quillet-launch")
[ "$out" = "$home/.local/share/quillet" ] || { echo "wrapper ran in '$out'"; exit 1; }
out=$(HOME="$home" XDG_DATA_HOME="$home/data" "$prefix/bin/quillet-launch")
[ "$out" = "$home/data/quillet" ] || { echo "wrapper ran in '$out'"; exit 1; }
echo "install check passed"
