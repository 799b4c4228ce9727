#!/bin/sh
# Runs every test suite of the project from a clean clone, installing what it
# needs. Run from the repository root, as root on a fresh Debian. Takes
# about twenty minutes on two cores.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev python3 \
  python3-venv flit mypy clang lld llvm valgrind

echo "== Linux: unit, end-to-end and Python client tests (and its install)," \
  "the layering and the MSVC-mode check (msvc_check)"
cmake --workflow --preset dev

tools/check-style.sh

echo "== Sanitizers: the whole native suite under ASan and UBSan"
cmake --workflow --preset asan

echo "== valgrind: the unit tests and every bridge the end-to-end suite starts"
# Each memcheck report is one process's file; only this run's are kept.
rm -rf build/memcheck/logs
if ! cmake --workflow --preset memcheck; then
  echo "memcheck's reports: build/memcheck/logs (each file is one process)"
  exit 1
fi

tools/test-fuzz.sh
tools/test-windows.sh
tools/test-package.sh

echo "== The README's demonstration"
tools/demo.sh

echo "== Benchmark (figures only: a missed target does not fail the run)"
bench/run.sh || [ $? -eq 1 ]
echo "== All test suites passed"
