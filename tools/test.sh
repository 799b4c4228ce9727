#!/bin/sh
# Runs every test suite of the project from a clean clone, installing what it
# needs. Run from the repository root, as root on a fresh Debian.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev

echo "== Linux: unit and end-to-end tests"
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
