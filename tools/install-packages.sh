#!/bin/sh
# Installs whichever of the named Debian packages are missing. Needs root.
#
#   tools/install-packages.sh [--i386] [--recommends] [--retry-with PKG]...
#                             PACKAGE...
#
#   --i386            adds the i386 architecture first, for packages named
#                     NAME:i386
#   --recommends      installs the packages' recommended packages too
#   --retry-with PKG  when apt-get's resolver gives up ("held broken
#                     packages"), tries once more with PKG named as well (may
#                     be repeated; see below)
#
# A mirror that is being synced can fail one index of `apt-get update` while
# the others are fine; that is a warning, and the install goes on with the
# indexes that did load. When the index that failed is the security suite's
# i386 one, the amd64 and i386 versions of Multi-Arch: same libraries differ
# and the resolver gives up. With --retry-with the install is then tried once
# more with a temporary apt preference that ranks the security suite below
# the main suite, without recommended packages and with the named packages
# added; the preference is removed again whatever the outcome, and a line
# says that this retry ran. Exits 0 when every package is installed, 1
# (naming the packages and apt-get's reason) when one of them cannot be.
set -eu

i386=0
recommends="--no-install-recommends"
retry_with=""
while [ "$#" -gt 0 ]; do
  case "$1" in
    --i386) i386=1 ;;
    --recommends) recommends="" ;;
    --retry-with) retry_with="$retry_with $2"; shift ;;
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
preference="${STATUS_BRIDGE_APT_PREFERENCES_DIR:-/etc/apt/preferences.d}/status-bridge-security-below-main"
trap 'rm -f "$log" "$preference"' EXIT
if ! apt-get update -qq >"$log" 2>&1; then
  echo "warning: apt-get update could not load every index; going on with" \
    "the others:" >&2
  grep -E '^(E|W|Err):' "$log" | sed 's/^/  /' >&2 || true
fi
# shellcheck disable=SC2086
if apt-get install -y -qq $recommends $missing >"$log" 2>&1; then
  exit 0
fi
if [ -n "$retry_with" ] && grep -q 'held broken packages' "$log"; then
  echo "apt-get gave up (held broken packages); retrying once with the" \
    "security suite ranked below the main suite"
  printf '%s\n' 'Package: *' 'Pin: release l=Debian-Security' \
    'Pin-Priority: 100' >"$preference"
  # shellcheck disable=SC2086
  if apt-get install -y -qq --no-install-recommends $missing $retry_with \
    >"$log" 2>&1; then
    rm -f "$preference"
    echo "installed by the retry with the security suite ranked below the" \
      "main suite"
    exit 0
  fi
  rm -f "$preference"
  echo "the retry with the security suite ranked below the main suite" \
    "failed too"
fi
echo "error: could not install:$missing" >&2
grep -v -e '^Reading ' -e '^Building ' "$log" | tail -n 15 | sed 's/^/  /' >&2
exit 1
