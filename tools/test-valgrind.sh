#!/bin/sh
# Runs the unit tests, and every bridge that the end-to-end suite starts,
# under valgrind's memcheck (tests/scripts/memcheck.sh): any invalid access or leak
# fails the test that caused it. The stress cases (labelled stress) are left
# out: under memcheck they would take an hour. Run from the repository root,
# as root on a fresh Debian.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev valgrind

echo "== valgrind: build (memcheck preset)"
cmake --preset memcheck >/dev/null
cmake --build --preset memcheck
rm -rf build/memcheck/logs

echo "== valgrind: the unit tests under memcheck"
tests/scripts/memcheck.sh build/memcheck/tests/status_bridge_unit_tests --gtest_brief=1

echo "== valgrind: the end-to-end suite, each bridge it starts under memcheck"
if ! ctest --preset memcheck; then
  echo "memcheck's reports: build/memcheck/logs (each file is one process)"
  exit 1
fi
