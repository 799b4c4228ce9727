#!/bin/sh
# Lists every ELF program and library of the build folder $1, and of an
# install from it, with its RUNPATH (or RPATH). Fails on an empty or relative
# entry, which the loader resolves against the caller's current folder, and
# on an installed file with an entry that is not relative to $ORIGIN (one
# that names the build folder, say).
# Usage: check_runpath.sh <build folder> <cmake> <readelf>
set -eu
build=$1
cmake=$2
readelf=$3
installed=$(mktemp -d)
trap 'rm -rf "$installed"' EXIT
"$cmake" --install "$build" --prefix "$installed" >/dev/null

failed=0
# Checks the file $1 below the folder $3; in an installed file
# ($2 = installed) every entry must start at $ORIGIN.
check() {
  paths=$("$readelf" -d "$1" | sed -n 's/.*(R[UN]*PATH)[^[]*\[\(.*\)\]$/\1/p')
  verdict=ok
  case ":$paths:" in
    ::) ;;
    *::*) verdict="an empty entry" ;;
  esac
  old_ifs=$IFS
  IFS=:
  for entry in $paths; do
    case $entry in
      '$ORIGIN'* | '${ORIGIN}'*) ;;
      /*) [ "$2" != installed ] || verdict="not relative to \$ORIGIN: $entry" ;;
      *) verdict="a relative entry: $entry" ;;
    esac
  done
  IFS=$old_ifs
  echo "$2 ${1#"$3"/}: [$paths] $verdict"
  [ "$verdict" = ok ] || failed=1
}

# Checks every file below $1 that has a dynamic section; $2 as for check.
check_all() {
  count=0
  for file in $(find "$1" -name CMakeFiles -prune -o -name wineprefix -prune \
      -o -type f -print); do
    if "$readelf" -d "$file" 2>/dev/null | grep -q 'Dynamic section'; then
      check "$file" "$2" "$1"
      count=$((count + 1))
    fi
  done
  [ "$count" -gt 0 ] || { echo "$2: no program or library found"; failed=1; }
}

check_all "$build" built
check_all "$installed" installed
exit "$failed"
