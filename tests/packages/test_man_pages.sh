#!/usr/bin/env bash
# The manual pages as man shows them, against what each program says now:
# every option its --help names is an item of the page's OPTIONS once, and
# OPTIONS has no item the program does not take; the page has the sections
# a reader looks for, in order, is of the program's version, and man
# renders it without a warning.
#
# Usage: test_man_pages.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: test_man_pages.sh BUILD_DIR}" && pwd)
pages="$build/packaging/generated/man"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The options an item tag of OPTIONS names, one a line: the line after each
# .TP up to the next section.
option_items() { # option_items PAGE
  sed 's/\\-/-/g' "$1" | awk '
    /^\.SH / { in_options = ($0 ~ /^\.SH "?OPTIONS"?$/); next }
    in_options && /^\.TP/ { tag = 1; next }
    in_options && tag { print; tag = 0 }' |
    grep -oE -- '--[a-z][a-z-]*' || true
}

checked=0
for program in lumidex lumidex-send lumidex-sim lumidex-bridge; do
  binary="$build/bin/$program"
  [ -x "$binary" ] || continue
  checked=$((checked + 1))
  page="$pages/$program.1"
  if [ ! -f "$page" ]; then
    fail "$program has no manual page ($page)"
    continue
  fi
  helped=$("$binary" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u)
  items=$(option_items "$page" | sort)
  for option in $helped; do
    count=$(grep -cx -- "$option" <<<"$items" || true)
    [ "$count" -eq 1 ] || fail "$program: $option is an item of OPTIONS $count times, not once"
  done
  for option in $(uniq <<<"$items"); do
    grep -qx -- "$option" <<<"$helped" || fail "$program: OPTIONS has $option, which --help lacks"
  done
  sections=$(grep -E '^\.SH ' "$page" | sed -e 's/^\.SH //' -e 's/"//g' |
    grep -xE 'NAME|SYNOPSIS|DESCRIPTION|OPTIONS|FILES|EXAMPLES|SEE ALSO' | tr '\n' ,)
  [ "$sections" = "NAME,SYNOPSIS,DESCRIPTION,OPTIONS,FILES,EXAMPLES,SEE ALSO," ] ||
    fail "$program: the page's sections are $sections"
  version=$("$binary" --version | head -n1)
  grep -qF "\"$version\"" "$page" || fail "$program: the page is not of \"$version\""
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] || fail "$program: man warns: $warnings"
done
[ "$checked" -gt 0 ] || fail "no program built in $build/bin"

if [ "$failures" -ne 0 ]; then
  echo "$failures manual page check(s) failed" >&2
  exit 1
fi
echo "the manual pages of $checked programs agree with their --help"
