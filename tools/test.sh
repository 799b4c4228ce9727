#!/bin/sh
# Runs every test suite of the project from a clean clone, installing what it
# needs. Run from the repository root, as root on a fresh Debian. Takes
# about twenty minutes on two cores.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev python3 \
  python3-venv flit mypy clang lld llvm

echo "== Linux: unit, end-to-end and Python client tests (and its install)," \
  "and the MSVC-mode check (msvc_check)"
cmake --preset dev
cmake --build --preset dev
ctest --preset dev

tools/check-style.sh
tools/test-sanitizers.sh
tools/test-valgrind.sh
tools/test-fuzz.sh
tools/test-windows.sh
tools/test-package.sh

echo "== The README's demonstration"
tools/demo.sh

echo "== Benchmark (figures only: a missed target does not fail the run)"
bench/run.sh || [ $? -eq 1 ]
echo "== All test suites passed"
