#!/usr/bin/env bash
# tests/packaging/check-docs.sh <build dir>
# The documents agree with the programs: each man page says all that its
# program's --help says (usage, text, options, exit status) and lists no
# other option, groff has nothing to warn about, every file names the same
# version, scripts/install-deps installs what the package build needs, and
# debian/copyright holds the text of LICENSE.
set -euo pipefail
build=$1
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}

# Whitespace collapsed, man page references "name(1)" read as "name".
flat() { tr -s ' \t\n' '   ' | sed -e 's/^ //; s/ $//; s/(1)//g'; }
# One section of a rendered page (its heading alone on a line).
section() { awk -v s="$2" '$0 == s { on = 1; next } /^[A-Z]/ { on = 0 } on' "$1"; }
contains() { grep -qF -- "$2" <<< "$1"; }

# A paragraph of the help is in the page; the help's "Examples:" is the
# page's EXAMPLES section.
check_paragraph() {
  [ -n "$paragraph" ] || return 0
  if [[ $paragraph == "Examples: "* ]]; then
    contains "$examples" "$(flat <<< "${paragraph#Examples: }")" || fail "$page: EXAMPLES lacks '$paragraph'"
  else
    contains "$all" "$(flat <<< "$paragraph")" || fail "$page lacks '$paragraph'"
  fi
}

check_page() {
  local program=$1 page=$2 help=$tmp/help text=$tmp/page
  "$program" --help > "$help"
  local wide
  wide=$(awk 'length > 80' "$help")
  [ -z "$wide" ] || fail "$program --help has lines over 80 columns: $wide"
  # groff's warnings, as lintian asks for them.
  LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2> "$tmp/warnings" > /dev/null
  [ ! -s "$tmp/warnings" ] || fail "$page: $(cat "$tmp/warnings")"
  LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$page" 2> /dev/null | col -bx > "$text"
  local all synopsis options exits examples
  all=$(flat < "$text")
  synopsis=$(section "$text" SYNOPSIS | flat)
  examples=$(section "$text" EXAMPLES | flat)
  options=$(section "$text" OPTIONS | flat)
  exits=$(section "$text" "EXIT STATUS" | flat)

  # Each line of the help, by its kind.
  local line option paragraph="" in_exit=0 help_options=() page_options=()
  while IFS= read -r line || [ -n "$line" ]; do
    if [[ $line =~ ^(Usage:|\ \ or:)\ +(.*)$ ]]; then
      contains "$synopsis" "$(flat <<< "${BASH_REMATCH[2]}")" || fail "$page: SYNOPSIS lacks '${BASH_REMATCH[2]}'"
    elif [[ $line =~ ^\ +(-[^ ].*[^ ]|-[^ ])\ \ +(.*)$ ]]; then
      option=${BASH_REMATCH[1]}
      help_options+=("$option")
      contains "$options" "$option ${BASH_REMATCH[2]}" || fail "$page: OPTIONS lacks '$option  ${BASH_REMATCH[2]}'"
    elif [ "$line" = "Exit status:" ]; then
      in_exit=1
    elif [ $in_exit = 1 ] && [ -n "$line" ]; then
      contains "$exits" "$(flat <<< "${line%[,.;]}")" || fail "$page: EXIT STATUS lacks '$line'"
    elif [ -n "$line" ]; then
      paragraph+="$line "
    else
      check_paragraph
      paragraph=""
    fi
  done < "$help"
  check_paragraph

  # And no option that the help does not name.
  # A short option's text may follow it on its line: the option is then
  # the help's option that starts the line.
  local known found
  while IFS= read -r option; do
    found=$option
    for known in "${help_options[@]}"; do
      [[ $option == "$known "* ]] && found=$known
    done
    page_options+=("$found")
  done < <(section "$text" OPTIONS | sed -n 's/^       \(-.*[^ ]\) *$/\1/p')
  [ "$(printf '%s\n' "${page_options[@]}" | sort)" = "$(printf '%s\n' "${help_options[@]}" | sort)" ] ||
    fail "$page lists the options '${page_options[*]}', --help '${help_options[*]}'"
}

check_page "$build/src/app/quillet" "$src/packaging/quillet.1"
check_page "$build/packaging/quillet-launch" "$src/packaging/quillet-launch.1"

# quillet(1) names every environment variable the sources read.
LC_ALL=C.UTF-8 MANWIDTH=1000 man -l "$src/packaging/quillet.1" 2> /dev/null | col -bx > "$tmp/quillet.txt"
environment=$(section "$tmp/quillet.txt" ENVIRONMENT)
for name in $(grep -rhoE '(qEnvironmentVariable(IsEmpty|IsSet)?|qgetenv|getenv)\("[A-Z_]+"\)' "$src/src" |
  sed -E 's/.*\("([A-Z_]+)"\)/\1/' | sort -u); do
  grep -qw -- "$name" <<< "$environment" || fail "quillet(1)'s ENVIRONMENT lacks $name, which the program reads"
done

# One version: the build's, the package's, the release's, the man pages'.
version=$("$build/src/app/quillet" --version | sed -n '1s/^quillet //p')
changelog=$(sed -n '1s/^quillet (\([^)]*\)).*/\1/p' "$src/debian/changelog")
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$src/packaging/io.github.quillet.Quillet.metainfo.xml" | head -n 1)
[ "$changelog" = "$version" ] || fail "debian/changelog is at $changelog, the program at $version"
[ "$release" = "$version" ] || fail "the metainfo's latest release is $release, the program $version"
for page in "$src"/packaging/*.1; do
  grep -q "^\.TH .* \"Quillet $version\"" "$page" || fail "$page is not for Quillet $version"
done

# The package builds where scripts/install-deps has run.
build_depends=$(sed -n '/^Build-Depends:/,/^[A-Z]/p' "$src/debian/control" | sed '$d; s/^Build-Depends://' |
  tr ',' '\n' | sed 's/(.*)//; s/^ *//; s/ *$//; s/^debhelper-compat$/debhelper/' | grep .)
for package in $build_depends; do
  grep -Eq "^[^#]*[ (]$package( |$)" "$src/scripts/install-deps" || fail "scripts/install-deps does not install $package"
done

# debian/copyright holds the licence text of LICENSE.
sed -n '/^Permission is hereby granted/,$p' "$src/LICENSE" > "$tmp/license"
sed -n '/^License: Expat$/,$p' "$src/debian/copyright" | sed -n '/^ Permission/,$p' |
  sed -e 's/^ \.$//; s/^ //' > "$tmp/copyright"
cmp -s "$tmp/license" "$tmp/copyright" || fail "debian/copyright's licence differs from LICENSE: $(diff "$tmp/license" "$tmp/copyright")"

[ $failed = 0 ] && echo "documents agree"
exit $failed
