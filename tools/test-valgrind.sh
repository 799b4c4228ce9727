#!/bin/sh
# Runs the bridge under valgrind's memcheck: every run mode once, each way a
# one-shot run ends, and a server run of 10,000 requests of every kind
# (answered, refused, empty, throwing). The stand-in string runtime and vendor
# library run inside the bridge's process, so memcheck covers them too. Any
# invalid access or leak (definite, indirect or possible) fails the script;
# the memory still reachable at the end (the loaded vendor library, the
# runtime's own) is reported.
# Run from the repository root, as root on a fresh Debian.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
tools/install-packages.sh cmake ninja-build g++ libgtest-dev valgrind

build=build/rel-valgrind
echo "== valgrind: build ($build)"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSTATUS_BRIDGE_BUILD_TESTS=ON >/dev/null
cmake --build "$build" -j 2 --target status-bridge standin_vendor \
  standin_vendor_no_export status_bridge_unit_tests

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bridge="$root/$build/status-bridge"
vendor="$root/$build/standin/vendor/LMCDLL70.dll"
no_export="$root/$build/standin/vendor-without-export/LMCDLL70.dll"
rules="$work/rules.lmc"
printf 'verified U1\nnot-verified U2\nthrow-class U3\nthrow-int U4\n' >"$rules"
export ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1

# The request line for `block_name` with the id `id`.
request() {
  printf '{"op":"is_verified","request_id":"%s","lmc_file":"%s","block_name":"%s","block_type":"RUL"}\n' \
    "$1" "$rules" "$2"
}

# 10,000 lines: answered (verified and not), refused, empty, escaped values,
# and exports that throw a class and an int.
awk -v rules="$rules" 'BEGIN {
  for (i = 0; i < 10000; i++) {
    k = i % 8
    if (k == 0) { name = "U1" } else if (k == 1) { name = "U2" }
    else if (k == 2) { print "{\"op\":\"is_verified\",\"request_id\":\"" i "\"}"; continue }
    else if (k == 3) { print ""; continue }
    else if (k == 4) { name = "U3" } else if (k == 5) { name = "U4" }
    else if (k == 6) { name = "a\\\"b\\\\c\\/d\\n\\r\\t" }
    else { name = "\xe4\xbd\xa0\xe5\xa5\xbd" }
    printf "{\"op\":\"is_verified\",\"request_id\":\"%d\",\"lmc_file\":\"%s\",\"block_name\":\"%s\",\"block_type\":\"%d\"}\n", i, rules, name, i
  }
}' >"$work/server.txt"

memcheck="valgrind --error-exitcode=99 --leak-check=full
  --suppressions=$root/tools/valgrind.supp
  --show-leak-kinds=definite,indirect,possible
  --errors-for-leak-kinds=definite,indirect,possible"

# Checks the memcheck log `$1` of a run that ended with `$2`: no error, and
# every block freed or still reachable. Prints the figures.
check_log() {
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$1")
  heap=$(sed -n 's/.*total heap usage: \(.*\)/\1/p' "$1")
  at_exit=$(sed -n 's/.*in use at exit: \(.*\)/\1/p' "$1")
  if [ "$2" -eq 99 ] || [ "${errors:-1}" -ne 0 ]; then
    cat "$1"
    return 1
  fi
  echo "  memcheck: 0 errors; heap: $heap; in use at exit (reachable): $at_exit"
}

status=0
# run <name> <expected exit code> <expected answer lines> <input file> [<variable>=<value>...]
# Runs the bridge with the arguments in $args under memcheck.
run() {
  name=$1 expected=$2 lines=$3 input=$4
  shift 4
  log="$work/$name.valgrind"
  set +e
  # shellcheck disable=SC2086
  env "$@" $memcheck --log-file="$log" "$bridge" $args <"$input" \
    >"$work/$name.out" 2>/dev/null
  code=$?
  set -e
  answers=$(wc -l <"$work/$name.out")
  echo "$name: exit $code (expected $expected), $answers answer lines (expected $lines)"
  if ! check_log "$log" "$code" || [ "$code" -ne "$expected" ] ||
    [ "$answers" -ne "$lines" ]; then
    echo "$name: FAILED"
    status=1
  fi
}

printf '' >"$work/empty.txt"
request 1 U1 >"$work/one.txt"
request 3 U3 >"$work/throw-class.txt"
request 4 U4 >"$work/throw-int.txt"
printf '{}\n' >"$work/invalid.txt"

echo "== valgrind: memcheck over the bridge"
args=--server
run server-10000 0 10000 "$work/server.txt" LMCDLL70_PATH="$vendor"
run server-empty-input 0 0 "$work/empty.txt" LMCDLL70_PATH="$vendor"
run server-export-missing 3 1 "$work/one.txt" LMCDLL70_PATH="$no_export"
run server-not-allowed 4 1 "$work/one.txt" LMCDLL70_PATH="$vendor" \
  ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=0
args=
run one-shot-answered 0 1 "$work/one.txt" LMCDLL70_PATH="$vendor" \
  ORVEK_STATUS_BRIDGE_TRACE=1
run one-shot-throw-class 0 1 "$work/throw-class.txt" LMCDLL70_PATH="$vendor"
run one-shot-throw-int 0 1 "$work/throw-int.txt" LMCDLL70_PATH="$vendor"
run one-shot-no-line 5 1 "$work/empty.txt" LMCDLL70_PATH="$vendor"
run one-shot-invalid 6 1 "$work/invalid.txt" LMCDLL70_PATH="$vendor"
run one-shot-load-failed 2 1 "$work/one.txt" LMCDLL70_PATH=/nonexistent/LMCDLL70.dll
args=--probe-only
run probe 0 1 "$work/empty.txt" LMCDLL70_PATH="$vendor"
args=--codec-test
run codec-test 0 1 "$work/one.txt" LMCDLL70_PATH="$vendor"

# The server run went through every kind of line: 1,250 verified blocks and
# 2,500 exports that threw.
if [ "$(grep -c '"status":"READY"' "$work/server-10000.out")" -ne 1250 ] ||
  [ "$(grep -c '调用 Mentor 私有状态函数时发生异常' "$work/server-10000.out")" -ne 2500 ]; then
  echo "server-10000: FAILED (the answers are not the expected mix)"
  status=1
fi

echo "== valgrind: memcheck over the unit tests"
set +e
# shellcheck disable=SC2086
$memcheck --log-file="$work/unit.valgrind" \
  "$build/tests/status_bridge_unit_tests" >"$work/unit.out" 2>&1
code=$?
set -e
echo "unit tests: exit $code, $(grep -c '^\[       OK \]' "$work/unit.out") passed"
if ! check_log "$work/unit.valgrind" "$code" || [ "$code" -ne 0 ]; then
  tail -n 20 "$work/unit.out"
  echo "unit tests: FAILED"
  status=1
fi
exit "$status"
