#!/bin/sh
# Proves the Windows build on this machine, as far as the machine allows, and
# says in its last line which path ran. Run from the repository root, as root
# on a fresh Debian; it installs what it needs.
#
# On every machine: builds the 32-bit program with mingw-w64 (build/win32),
# its stand-in vendor libraries, unit tests and the native end-to-end host
# (the dev preset's), and checks the 32-bit build without running it.
#
# Then, where a 32-bit Windows program starts under Wine (tools/wine32-probe.sh
# tries one): the build's CTest under 32-bit Wine, which runs the unit tests
# and the end-to-end suite as Windows programs, and from the Linux side the
# few end-to-end cases that need it (LINUX_SIDE_CASES).
# Where none does (a kernel without 32-bit support, or no 32-bit Wine to be
# had): the same sources as a 64-bit test build (build/win64-check) under
# 64-bit Wine, with the cases that need the 32-bit MSVC-ABI vendor library
# skipped, by name.
#
#   STATUS_BRIDGE_REQUIRE_WIN32=1  a machine that cannot run 32-bit programs
#                                  fails instead of taking the 64-bit path
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

echo "== Windows: packages"
tools/install-packages.sh g++-mingw-w64-i686-posix clang lld llvm cmake \
  ninja-build g++ libgtest-dev googletest
# A resolver that gives up on wine32:i386 during a mirror sync gets one retry
# (see install-packages.sh), with the library that held it back named.
wine32_missing=""
wine32_install="32-bit Wine packages in place without a retry"
if install_log=$(tools/install-packages.sh --i386 --recommends \
  --retry-with libgstreamer-plugins-base1.0-0:i386 wine wine32:i386 2>&1); then
  status=0
else
  status=$?
fi
printf '%s\n' "$install_log"
case $install_log in
  *"installed by the retry"*)
    wine32_install="32-bit Wine packages installed by the retry with the security suite ranked below the main suite" ;;
  *"failed too"*)
    wine32_install="32-bit Wine packages not installed, the retry with the security suite ranked below the main suite included" ;;
  *) [ "$status" -eq 0 ] || wine32_install="32-bit Wine packages not installed" ;;
esac
if [ "$status" -ne 0 ]; then
  wine32_missing="the 32-bit Wine packages could not be installed"
  echo "Going on without 32-bit Wine."
fi

echo "== Windows: build (mingw-w64, i686)"
cmake --preset win32
cmake --build --preset win32 -j2

echo "== Windows: the 32-bit build, checked without running it"
ctest --preset win32 -L static

echo "== Windows: end-to-end host (native)"
# The Linux suite's own program, for the cases that need the Linux side: it
# takes the build under test from the environment (run_e2e below).
cmake --preset dev
cmake --build --preset dev --target status_bridge_e2e_tests

passed=0
skipped=""
# Runs a command that prints GoogleTest results, showing its output; adds
# up the tests passed and collects the names of those skipped for want of a
# 32-bit build (their reason starts with "32-bit only:").
run_counted() {
  log=$(mktemp)
  { "$@" 2>&1 || echo "$?" >"$log.failed"; } | tee "$log"
  if [ -e "$log.failed" ]; then
    rm -f "$log" "$log.failed"
    exit 1
  fi
  for count in $(sed -n 's/.*\[  PASSED  \] \([0-9]*\) tests\{0,1\}\..*/\1/p' "$log"); do
    passed=$((passed + count))
  done
  for name in $(awk '/\[ RUN      \]/ { name = $NF }
                     /32-bit only:/ { print name }' "$log"); do
    skipped="${skipped:+$skipped, }$name"
  done
  rm -f "$log"
}

# The end-to-end cases that drive the Windows build from the Linux side:
# non-blocking pipes, a FIFO and /proc (StreamsTest), /dev/full, the ANSI
# code page chosen through LC_ALL, which only a Wine started from Linux
# takes, and a million one-line answers, which Wine's own pipes between two
# Windows programs carry 25 times slower than Linux pipes (tests/CMakeLists.txt
# leaves it out of the Windows suite under Wine). Every other case runs in
# the Windows suite itself (CTest's e2e and e2e_stress).
LINUX_SIDE_CASES='StreamsTest.*:LostAnswersTest.AFullDiskChangesNoExitCode'
LINUX_SIDE_CASES="$LINUX_SIDE_CASES:WindowsTest.NamesReachTheVendorInTheAnsiCodePage"
LINUX_SIDE_CASES="$LINUX_SIDE_CASES:HostileInputTest.AMillionEmptyLines"
# The doctor's load failures: their doubles and WINEPATH are set from here.
LINUX_SIDE_CASES="$LINUX_SIDE_CASES:DiagnoseTest.WindowsLoadFailuresAreExplained"

# Runs LINUX_SIDE_CASES against the Windows build in `$2` under the Wine
# loader `$1`; `$3` is the kind of build (1: 32-bit, 64: the 64-bit test
# build) and `$4` the vendor library for the ordinary cases.
run_e2e() {
  win="$root/$2"
  STATUS_BRIDGE_E2E_LAUNCHER=$1
  STATUS_BRIDGE_E2E_PROGRAM="$win/status-bridge.exe"
  STATUS_BRIDGE_E2E_VENDOR="$win/standin/$4/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_VENDOR_THROWING="$win/standin/status_library-mingw/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_VENDOR_NO_EXPORT="$win/standin/status_library-without-export/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_VENDOR_WITH_DEPENDENCY="$win/standin/status_library-with-dependency/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_VENDOR_OTHER_BITNESS="$win/standin/status_library-other-bitness/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_VENDOR_FAILING_INIT="$win/standin/status_library-failing-init/LMCDLL70.dll"
  STATUS_BRIDGE_E2E_WINDOWS=$3
  export STATUS_BRIDGE_E2E_LAUNCHER STATUS_BRIDGE_E2E_PROGRAM \
    STATUS_BRIDGE_E2E_VENDOR STATUS_BRIDGE_E2E_VENDOR_THROWING \
    STATUS_BRIDGE_E2E_VENDOR_NO_EXPORT STATUS_BRIDGE_E2E_VENDOR_WITH_DEPENDENCY \
    STATUS_BRIDGE_E2E_VENDOR_OTHER_BITNESS STATUS_BRIDGE_E2E_VENDOR_FAILING_INIT \
    STATUS_BRIDGE_E2E_WINDOWS
  export WINEPREFIX="$win/wineprefix" WINEDEBUG=-all
  export LC_ALL=C.UTF-8  # Wine passes non-ASCII paths on only from UTF-8.
  # One Wine server for the whole suite, started apart from the runs' streams.
  wineserver -k 2>/dev/null || true
  WINE_RUN_PERSISTENCE=60 tests/scripts/wine-run.sh $5 "$WINEPREFIX"
  trap 'wineserver -k 2>/dev/null || true' EXIT
  run_counted build/dev/tests/status_bridge_e2e_tests \
    --gtest_filter="$LINUX_SIDE_CASES"
}

echo "== Windows: can this machine start a 32-bit Windows program?"
if probe=$(tools/wine32-probe.sh "$root/build/win32/wineprefix"); then
  echo "Yes: the 32-bit path runs."
  echo "== Windows: unit and end-to-end tests under 32-bit Wine (CTest)"
  run_counted ctest --preset win32 -LE static -V
  echo "== Windows: end-to-end cases from the Linux side, under 32-bit Wine"
  run_e2e "$(command -v wine)" build/win32 1 status_library-msvc ""
  echo "Windows: 32-bit under Wine: $passed tests passed${skipped:+; skipped: $skipped};" \
    "$wine32_install"
  exit 0
fi

reason="$probe${wine32_missing:+; $wine32_missing}"
echo "No: $reason."
if [ "${STATUS_BRIDGE_REQUIRE_WIN32:-0}" = 1 ]; then
  echo "Windows: this machine cannot run 32-bit programs ($reason)," \
    "and STATUS_BRIDGE_REQUIRE_WIN32=1 asks for them"
  exit 1
fi

echo "== Windows: packages for the 64-bit test build"
tools/install-packages.sh wine wine64 g++-mingw-w64-x86-64-posix

echo "== Windows: 64-bit test build (mingw-w64, x86_64)"
cmake --preset win64-check
cmake --build --preset win64-check -j2

echo "== Windows: unit and end-to-end tests under 64-bit Wine (CTest)"
run_counted ctest --preset win64-check -V
echo "== Windows: end-to-end cases from the Linux side, under 64-bit Wine"
run_e2e /usr/lib/wine/wine64 build/win64-check 64 status_library-mingw --win64
echo "Windows: this machine cannot run 32-bit programs ($reason);" \
  "win32 built and checked statically; 64-bit under wine64: $passed tests" \
  "passed${skipped:+; skipped: $skipped}; $wine32_install"
