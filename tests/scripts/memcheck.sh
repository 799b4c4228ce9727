#!/bin/sh
# Runs a program under valgrind's memcheck: the end-to-end suite's launcher
# for the memcheck preset, and the way tools/test-valgrind.sh runs the unit
# tests.
#
#   tests/scripts/memcheck.sh <program> [<argument>...]
#
# An invalid access or a leak (definite, indirect or possible) makes the
# program exit with 99, which no run of the bridge ends with, so the test
# that ran it fails. Memcheck's report goes to its own file,
# $STATUS_BRIDGE_MEMCHECK_LOGS/<pid>.log (default build/memcheck/logs), never
# into the program's standard error.
set -eu
scripts=$(cd "$(dirname "$0")" && pwd)
logs=${STATUS_BRIDGE_MEMCHECK_LOGS:-$scripts/../../build/memcheck/logs}
mkdir -p "$logs"
exec valgrind --quiet --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite,indirect,possible \
  --errors-for-leak-kinds=definite,indirect,possible \
  --suppressions="$scripts/valgrind.supp" --log-file="$logs/%p.log" "$@"
