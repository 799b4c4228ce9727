#!/bin/sh
# Builds the 32-bit Windows program (mingw-w64, build/win32) with its stand-in
# vendor libraries and proves it under Wine: the cross-compiled unit tests
# through CTest, then the end-to-end suite, built natively (build/winhost) and
# pointed at the Windows program. Run from the repository root, as root on a
# fresh Debian; it installs what it needs.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

# Wine is installed with its recommended packages, as it was tried here.
packages="wine wine32:i386 g++-mingw-w64-i686-posix clang lld llvm googletest
  cmake ninja-build g++ libgtest-dev"
missing=""
for package in $packages; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing="$missing $package"
  fi
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  dpkg --add-architecture i386
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing >/dev/null
fi

echo "== Windows: build (mingw-w64, i686)"
cmake --preset win32
cmake --build --preset win32 -j2

echo "== Windows: unit tests under Wine"
ctest --preset win32

echo "== Windows: end-to-end tests under Wine"
cmake -S . -B build/winhost -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DSTATUS_BRIDGE_BUILD_TESTS=ON
cmake --build build/winhost -j2 --target status_bridge_e2e_tests

win="$root/build/win32"
export WINEPREFIX="$win/wineprefix"
export WINEDEBUG=-all
export LC_ALL=C.UTF-8  # Wine passes non-ASCII paths on only from UTF-8.
# One Wine server for the whole suite, started apart from the runs' streams.
WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
WINE_RUN_PERSISTENCE=60 cmake/wine-run.sh "$WINEPREFIX"
trap 'wineserver -k 2>/dev/null || true' EXIT

STATUS_BRIDGE_E2E_LAUNCHER=$(command -v wine)
STATUS_BRIDGE_E2E_PROGRAM="$win/status-bridge.exe"
STATUS_BRIDGE_E2E_VENDOR="$win/standin/vendor-msvc/LMCDLL70.dll"
STATUS_BRIDGE_E2E_VENDOR_THROWING="$win/standin/vendor-mingw/LMCDLL70.dll"
STATUS_BRIDGE_E2E_VENDOR_NO_EXPORT="$win/standin/vendor-without-export/LMCDLL70.dll"
STATUS_BRIDGE_E2E_WINDOWS=1
export STATUS_BRIDGE_E2E_LAUNCHER STATUS_BRIDGE_E2E_PROGRAM \
  STATUS_BRIDGE_E2E_VENDOR STATUS_BRIDGE_E2E_VENDOR_THROWING \
  STATUS_BRIDGE_E2E_VENDOR_NO_EXPORT STATUS_BRIDGE_E2E_WINDOWS
build/winhost/tests/status_bridge_e2e_tests
