#!/bin/sh
# Builds the libFuzzer targets (fuzz preset, clang) and runs each one for a
# bounded time, starting from its seed corpus in fuzz/corpus/<target>. Prints
# the executions per target; fails when a target finds an input that breaks
# it (the input is kept as build/fuzz/work/<target>-crash-*).
#
#   FUZZ_SECONDS  seconds per target (default 60)
#
# Run from the repository root, as root on a fresh Debian.
set -eu
cd "$(dirname "$0")/.."
tools/install-packages.sh cmake ninja-build clang libclang-rt-14-dev

seconds="${FUZZ_SECONDS:-60}"
targets="extract_json_string_fuzzer parse_status_request_fuzzer escape_round_trip_fuzzer"

echo "== Fuzzing: ${seconds}s per target"
cmake --preset fuzz
cmake --build --preset fuzz -j 2

work=build/fuzz/work
status=0
for target in $targets; do
  # New inputs go to the work folder; the committed seeds are only read.
  mkdir -p "$work/$target"
  log="$work/$target.log"
  if build/fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 \
      -print_final_stats=1 -dict=fuzz/request.dict \
      -artifact_prefix="$work/$target-" \
      "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    result="ok"
  else
    tail -n 40 "$log"
    result="FAILED (see $log)"
    status=1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$target: ${executions:-?} executions in ${seconds}s, $result"
done
exit "$status"
