#!/bin/sh
# Checks the installed layout and the Windows test kit: installs the Linux
# build (dev preset) and unpacks the zip that CPack makes from the win32
# preset, checks the kit's files, then asks the stand-ins through each; the
# kit only where this machine runs 32-bit Windows programs under Wine (see
# tools/wine32-probe.sh). Run after tools/test.sh has built both presets (it
# runs this script itself).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Compares what a command printed with what it should print.
expect() {
  if [ "$1" != "$2" ]; then
    printf 'expected: %s\n     got: %s\n' "$2" "$1" >&2
    exit 1
  fi
}

request() {
  printf '{"op":"is_verified","request_id":"%s","lmc_file":"%s","block_name":"%s"}\n' "$1" "$2" "$3"
}
probe_line='{"ok":true,"probe":true,"export_found":true,"source":"IsVerifiedReuseBlock"}'

echo "== Linux: cmake --install, bridge component alone"
cmake --install build/dev --prefix "$work/bridge-only" --component bridge >/dev/null
expect "$(cd "$work/bridge-only" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" \
  "./bin/status-bridge ./lib/libstandin_cstring.so ./share/doc/status-bridge/ARCHITECTURE.md ./share/doc/status-bridge/CHANGELOG.md ./share/doc/status-bridge/README.md ./share/doc/status-bridge/VERSION ./share/doc/status-bridge/docs/manual.md ./share/doc/status-bridge/docs/windows.md "
version=$(sed -n 's/^project(status_bridge VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expect "$(cat "$work/bridge-only/share/doc/status-bridge/VERSION")" "$version"

echo "== Linux: cmake --install, client component alone"
cmake --install build/dev --prefix "$work/client-only" --component client >/dev/null
expect "$(cd "$work/client-only" && find . -type f | sort | tr '\n' ' ')" \
  "./share/status-bridge/clients/python/README.md ./share/status-bridge/clients/python/pyproject.toml ./share/status-bridge/clients/python/status_bridge_client-$version-py3-none-any.whl ./share/status-bridge/clients/python/status_bridge_client/__init__.py ./share/status-bridge/clients/python/status_bridge_client/client.py ./share/status-bridge/clients/python/status_bridge_client/errors.py ./share/status-bridge/clients/python/status_bridge_client/pool.py ./share/status-bridge/clients/python/status_bridge_client/process.py ./share/status-bridge/clients/python/status_bridge_client/py.typed ./share/status-bridge/clients/python/status_bridge_client/wire.py "

echo "== Linux: cmake --install, everything, then a request"
cmake --install build/dev --prefix "$work/linux" >/dev/null
linux="$work/linux"
lmc="$linux/share/status-bridge/examples/sample.lmc"
expect "$(LMCDLL70_PATH="$linux/lib/status-bridge/standin/status_library/LMCDLL70.dll" \
  "$linux/bin/status-bridge" --probe-only)" "$probe_line"
expect "$(request 1 "$lmc" U1 | ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 \
  LMCDLL70_PATH="$linux/lib/status-bridge/standin/status_library/LMCDLL70.dll" \
  "$linux/bin/status-bridge")" \
  "{\"ok\":true,\"request_id\":\"1\",\"block_name\":\"U1\",\"lmc_file\":\"$lmc\",\"status\":\"READY\",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":1}"

echo "== Windows: the test kit zip, unpacked"
(cd build/win32 && cpack >/dev/null)
kit_zip=$(ls build/win32/status-bridge-*-win32-testkit.zip)
unzip -q "$kit_zip" -d "$work/kit"
kit=$(ls -d "$work"/kit/status-bridge-*-win32-testkit)
expect "$(cd "$kit" && find clients -type f | sort | tr '\n' ' ')" \
  "clients/python/README.md clients/python/pyproject.toml clients/python/status_bridge_client-$version-py3-none-any.whl clients/python/status_bridge_client/__init__.py clients/python/status_bridge_client/client.py clients/python/status_bridge_client/errors.py clients/python/status_bridge_client/pool.py clients/python/status_bridge_client/process.py clients/python/status_bridge_client/py.typed clients/python/status_bridge_client/wire.py "
expect "$(basename "$kit")" "status-bridge-$version-win32-testkit"
expect "$(cat "$kit/VERSION")" "$version"
# The exe's version resource, whose strings are UTF-16.
expect "$(strings -el "$kit/status-bridge.exe" | grep -A1 -x FileVersion | tail -n 1)" "$version"
sh tests/scripts/windows_build_check.sh "$(command -v llvm-readobj)" \
  "$kit/status-bridge.exe" "$kit/standin/status_library-msvc/LMCDLL70.dll"
if ! probe=$(tools/wine32-probe.sh "$root/build/win32/wineprefix"); then
  echo "package checks passed; the Windows test kit was checked without" \
    "running it: this machine cannot run 32-bit programs ($probe)"
  exit 0
fi

echo "== Windows: the test kit, run under Wine"
export WINEPREFIX="$root/build/win32/wineprefix" WINEDEBUG=-all LC_ALL=C.UTF-8
tests/scripts/wine-run.sh "$WINEPREFIX"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_lmc=$(winpath "$kit/examples/sample.lmc")
wine_lmc_json=$(printf '%s' "$wine_lmc" | sed 's/\\/\\\\/g')
crlf=$(printf '\r')

expect "$(LMCDLL70_PATH="$(winpath "$kit/standin/status_library-msvc/LMCDLL70.dll")" \
  wine "$kit/status-bridge.exe" --probe-only)" "$probe_line$crlf"
expect "$(request 1 "$wine_lmc_json" U1 | ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 \
  LMCDLL70_PATH="$(winpath "$kit/standin/status_library-msvc/LMCDLL70.dll")" \
  wine "$kit/status-bridge.exe")" \
  "{\"ok\":true,\"request_id\":\"1\",\"block_name\":\"U1\",\"lmc_file\":\"$wine_lmc_json\",\"status\":\"READY\",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":1}$crlf"
expect "$(request 2 "$wine_lmc_json" U3 | ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 \
  LMCDLL70_PATH="$(winpath "$kit/standin/status_library-mingw/LMCDLL70.dll")" \
  wine "$kit/status-bridge.exe")" \
  "{\"ok\":false,\"error\":\"调用 Mentor 私有状态函数时发生异常\"}$crlf"
status=0
LMCDLL70_PATH="$(winpath "$kit/standin/status_library-without-export/LMCDLL70.dll")" \
  wine "$kit/status-bridge.exe" --probe-only >/dev/null || status=$?
expect "$status" 3
echo "package checks passed"
