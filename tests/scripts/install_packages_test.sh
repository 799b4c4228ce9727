#!/bin/sh
# Checks the control flow of tools/install-packages.sh against fake dpkg,
# dpkg-query and apt-get programs, without touching the machine's apt:
#
#   install_packages_test.sh <tools/install-packages.sh>
#
# The fake apt-get fails "install" the way the scenario says; in the "held"
# scenarios it succeeds only while the retry's apt preference is in place.
set -eu

script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin" "$work/preferences.d"
printf '%s\n' '#!/bin/sh' 'exit 1' >"$work/bin/dpkg-query"
printf '%s\n' '#!/bin/sh' 'echo i386' >"$work/bin/dpkg"
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
[ "$1" = update ] && exit 0
pinned=no
if [ -f "$FAKE_PREFERENCES/status-bridge-security-below-main" ] &&
  grep -qx 'Pin: release l=Debian-Security' \
    "$FAKE_PREFERENCES/status-bridge-security-below-main"; then
  pinned=yes
fi
echo "pinned=$pinned $*" >>"$FAKE_CALLS"
case "$FAKE_SCENARIO:$pinned" in
  ok:* | held:yes) exit 0 ;;
  held:no | held-always:*)
    echo "E: Unable to correct problems, you have held broken packages."
    exit 100 ;;
  *) echo "E: Unable to locate package"; exit 100 ;;
esac
FAKE
chmod +x "$work/bin/"*

failures=0
# check <scenario> <retry option: yes|no> <exit code> <install calls, one a
# line, as "pinned=<yes|no> <apt-get arguments>">
check() {
  : >"$work/calls"
  if [ "$2" = yes ]; then
    set -- "$1" "$2" "$3" "$4" --retry-with extra:i386
  else
    set -- "$1" "$2" "$3" "$4"
  fi
  scenario=$1 code=$3 calls=$4
  shift 4
  status=0
  PATH="$work/bin:$PATH" FAKE_SCENARIO=$scenario FAKE_CALLS="$work/calls" \
    FAKE_PREFERENCES="$work/preferences.d" \
    STATUS_BRIDGE_APT_PREFERENCES_DIR="$work/preferences.d" \
    sh "$script" --i386 --recommends "$@" wine wine32:i386 \
    >"$work/out" 2>&1 || status=$?
  if [ "$status" -ne "$code" ]; then
    echo "FAIL: $scenario: exit code $status, not $code"
    failures=$((failures + 1))
  fi
  if [ "$(cat "$work/calls")" != "$calls" ]; then
    printf 'FAIL: %s: apt-get install calls\n%s\nnot\n%s\n' "$scenario" \
      "$(cat "$work/calls")" "$calls"
    failures=$((failures + 1))
  fi
  if [ -n "$(ls -A "$work/preferences.d")" ]; then
    echo "FAIL: $scenario: the apt preference was left behind"
    failures=$((failures + 1))
  fi
}

first="pinned=no install -y -qq wine wine32:i386"
retry="pinned=yes install -y -qq --no-install-recommends wine wine32:i386 extra:i386"
check ok yes 0 "$first"
check held yes 0 "$first
$retry"
grep -q "installed by the retry" "$work/out" ||
  { echo "FAIL: held: the retry is not reported"; failures=$((failures + 1)); }
check held-always yes 1 "$first
$retry"
check other-error yes 1 "$first"
check held no 1 "$first"

if [ "$failures" -ne 0 ]; then
  echo "install-packages.sh: $failures failure(s)"
  exit 1
fi
echo "install-packages.sh: retry control flow as intended"
