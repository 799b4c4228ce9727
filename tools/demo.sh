#!/bin/sh
# Builds the bridge and the stand-in vendor library in release mode, then asks
# the stand-in through the bridge: a probe, a one-shot request and the server
# session that the README shows, trace included. Run as root on a fresh
# Debian; it works from the repository root, whatever folder it starts in.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev

cmake --preset release >/dev/null
cmake --build --preset release

export LMCDLL70_PATH="$PWD/build/release/standin/status_library/LMCDLL70.dll"
# Relative to the repository root, as in the README's session.
lmc=examples/sample.lmc
bridge=build/release/status-bridge

echo "== probe"
"$bridge" --probe-only

echo "== one-shot request, with the trace on standard error"
echo "{\"op\":\"is_verified\",\"request_id\":\"42\",\"lmc_file\":\"$lmc\",\"block_name\":\"U1\",\"block_type\":\"RUL\"}" |
  ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 ORVEK_STATUS_BRIDGE_TRACE=1 "$bridge"

echo "== server session: verified, not verified, refused, vendor exception;"
echo "   the trace on standard error"
printf '%s\n' \
  "{\"op\":\"is_verified\",\"request_id\":\"1\",\"lmc_file\":\"$lmc\",\"block_name\":\"U1\"}" \
  "{\"op\":\"is_verified\",\"request_id\":\"2\",\"lmc_file\":\"$lmc\",\"block_name\":\"U2\",\"block_type\":\"3\"}" \
  "{\"op\":\"is_verified\",\"request_id\":\"3\"}" \
  "{\"op\":\"is_verified\",\"request_id\":\"4\",\"lmc_file\":\"$lmc\",\"block_name\":\"U3\"}" |
  ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 ORVEK_STATUS_BRIDGE_TRACE=1 "$bridge" --server
echo "== exit code $?"
