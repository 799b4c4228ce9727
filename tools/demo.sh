#!/bin/sh
# Builds the bridge and the stand-in vendor library in release mode, then asks
# the stand-in through the bridge: a probe, a one-shot request and the server
# session that the README shows, trace included. Checks each answer line and
# exit code as it goes, and fails when one is not what the README says. Run
# as root on a fresh Debian; it works from the repository root, whatever
# folder it starts in.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev

cmake --preset release >/dev/null
cmake --build --preset release

export LMCDLL70_PATH="$PWD/build/release/standin/status_library/LMCDLL70.dll"
# Relative to the repository root, as in the README's session.
lmc=examples/sample.lmc
bridge=build/release/status-bridge
failures=0

# Runs `env <argument>...`, standard input as given; shows the answers (the
# trace goes to standard error as it comes) and keeps them and the exit code.
run() {
  status=0
  out=$(env "$@") || status=$?
  printf '%s\n' "$out"
  echo "(exit code $status)"
}

# expect <exit code> <pattern>...: the last run ended with that exit code and
# gave one answer line per pattern (grep -E), in that order.
expect() {
  [ "$status" -eq "$1" ] || fail "exit code $status, not $1"
  shift
  [ "$(printf '%s\n' "$out" | wc -l)" -eq "$#" ] || fail "not $# answer lines"
  n=0
  for pattern in "$@"; do
    n=$((n + 1))
    printf '%s\n' "$out" | sed -n "${n}p" | grep -qE "$pattern" ||
      fail "answer $n does not match $pattern"
  done
}
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
error='^\{"ok":false,"error":"[^"]+"\}$'

echo "== probe"
run "$bridge" --probe-only </dev/null
expect 0 '^\{"ok":true,"probe":true,"export_found":true,"source":"IsVerifiedReuseBlock"\}$'

echo "== one-shot request, with the trace on standard error"
run ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 ORVEK_STATUS_BRIDGE_TRACE=1 "$bridge" <<JSON
{"op":"is_verified","request_id":"42","lmc_file":"$lmc","block_name":"U1","block_type":"RUL"}
JSON
expect 0 '"request_id":"42",.*"status":"READY",.*"raw_status":1\}$'

echo "== server session: verified, not verified, refused, vendor exception;"
echo "   the trace on standard error"
run ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 ORVEK_STATUS_BRIDGE_TRACE=1 "$bridge" --server <<JSON
{"op":"is_verified","request_id":"1","lmc_file":"$lmc","block_name":"U1"}
{"op":"is_verified","request_id":"2","lmc_file":"$lmc","block_name":"U2","block_type":"3"}
{"op":"is_verified","request_id":"3"}
{"op":"is_verified","request_id":"4","lmc_file":"$lmc","block_name":"U3"}
JSON
expect 0 '"request_id":"1",.*"status":"READY",.*"raw_status":1\}$' \
  '"request_id":"2",.*"status":"PENDING",.*"raw_status":0\}$' "$error" "$error"

if [ "$failures" -ne 0 ]; then
  echo "demo: $failures check(s) failed"
  exit 1
fi
echo "demo: every answer and exit code as the README shows"
