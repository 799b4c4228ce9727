#!/bin/sh
# Installs whichever of the named Debian packages are missing. Needs root.
#
#   tools/install-packages.sh [--i386] [--recommends] PACKAGE...
#
#   --i386        adds the i386 architecture first, for packages named
#                 NAME:i386
#   --recommends  installs the packages' recommended packages too
#
# A mirror that is being synced can fail one index of `apt-get update` while
# the others are fine; that is a warning, and the install goes on with the
# indexes that did load. Exits 0 when every package is installed, 1 (naming
# the packages and apt-get's reason) when one of them cannot be.
set -eu

i386=0
recommends="--no-install-recommends"
while [ "$#" -gt 0 ]; do
  case "$1" in
    --i386) i386=1 ;;
    --recommends) recommends="" ;;
    -*) echo "install-packages.sh: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
  shift
done

missing=""
for package in "$@"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null |
      grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"

export DEBIAN_FRONTEND=noninteractive
if [ "$i386" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! apt-get update -qq >"$log" 2>&1; then
  echo "warning: apt-get update could not load every index; going on with" \
    "the others:" >&2
  grep -E '^(E|W|Err):' "$log" | sed 's/^/  /' >&2 || true
fi
# shellcheck disable=SC2086
if ! apt-get install -y -qq $recommends $missing >"$log" 2>&1; then
  echo "error: could not install:$missing" >&2
  grep -v -e '^Reading ' -e '^Building ' "$log" | tail -n 15 | sed 's/^/  /' >&2
  exit 1
fi
