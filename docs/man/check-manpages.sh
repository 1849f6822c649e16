#!/bin/sh
# check-manpages.sh BUILD-DIR PREFIX PAGE...
# Installs only the manual pages of BUILD-DIR into PREFIX, then checks that
# each PAGE renders without a warning, that man finds it by its name and that
# it points to no file of the source tree.
set -eu
build=$1
prefix=$2
shift 2
rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" --component manpages >/dev/null
status=0
for page in "$@"; do
  name=${page%.*}
  section=${page##*.}
  found=$(man -M "$prefix/share/man" -w "$section" "$name" 2>/dev/null || true)
  if [ "$found" != "$prefix/share/man/man$section/$page" ]; then
    echo "man does not find $name($section) under $prefix/share/man (found: '$found')"
    status=1
    continue
  fi
  warnings=$(MANWIDTH=80 man --warnings=all -l -Tutf8 "$found" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then
    echo "$page renders with warnings:"
    echo "$warnings"
    status=1
  fi
  # An installed page points only to what is installed, never into the source tree.
  if MANWIDTH=80 man -l -Tutf8 "$found" 2>/dev/null | sed 's/.\x08//g' \
      | grep -nE 'source tree|docs/|sim/README|README\.md'; then
    echo "$page points into the source tree (lines above)"
    status=1
  fi
  # A page that came out empty or cut short still renders without a warning.
  if ! MANWIDTH=80 man -l -Tutf8 "$found" 2>/dev/null | sed 's/.\x08//g' | grep -q '^SEE ALSO'; then
    echo "$page has no SEE ALSO section: the page is cut short"
    status=1
  fi
done
exit $status
