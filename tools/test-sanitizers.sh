#!/bin/sh
# Builds the asan preset (AddressSanitizer and UndefinedBehaviorSanitizer,
# no recovery) and runs the whole native suite under it: the unit tests and
# the end-to-end tests, whose bridge, stand-in string runtime and stand-in
# vendor libraries are all instrumented. Run from the repository root, as root
# on a fresh Debian.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build g++ libgtest-dev

echo "== Sanitizers: unit and end-to-end tests under ASan and UBSan"
cmake --preset asan
cmake --build --preset asan -j 2
# The options come from the asan test preset: a crash inside the stand-in
# vendor library must end the process by its signal, as in every other build,
# rather than in the sanitizer's report.
ctest --preset asan
