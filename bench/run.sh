#!/usr/bin/env bash
# Builds the bridge and its benchmark in release mode into build/bench and
# prints the benchmark's table: figures, ratios, targets and PASS/FAIL.
#
# Usage: bench/run.sh [--micro]
#   --micro  also runs the codec's micro-benchmarks (Google Benchmark).
#
# Needs cmake, ninja, a C++17 compiler, valgrind and libbenchmark-dev (the
# last only for --micro); run as root with apt-get at hand, it installs
# whichever of those is missing. Takes about a minute on two cores. Exits 0
# when every target holds, 1 when one does not, 2 when the harness fails.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/bench"
micro=0
for arg in "$@"; do
  case "$arg" in
    --micro) micro=1 ;;
    *) echo "usage: bench/run.sh [--micro]" >&2; exit 2 ;;
  esac
done

# Installs the Debian packages whose command or files are missing.
missing=()
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
command -v g++ >/dev/null || missing+=(g++)
command -v valgrind >/dev/null || missing+=(valgrind)
dpkg -s libbenchmark-dev >/dev/null 2>&1 || missing+=(libbenchmark-dev)
if ((${#missing[@]} > 0)); then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null; then
    echo "Installing ${missing[*]}" >&2
    apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >&2
  else
    echo "Missing packages, not installed (not root): ${missing[*]}" >&2
  fi
fi

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DSTATUS_BRIDGE_BUILD_BENCH=ON -DSTATUS_BRIDGE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null

work="$build/bench-work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

optional=()
command -v valgrind >/dev/null && optional+=(--valgrind "$(command -v valgrind)")

status=0
"$build/bench/bench-harness" \
  --bridge "$build/status-bridge" \
  --floor "$build/bench/bench-floor" \
  --vendor "$build/bench/null-vendor/LMCDLL70.dll" \
  --peak-rss "$build/bench/bench-peak-rss" \
  --work "$work" \
  "${optional[@]}" || status=$?

if ((micro)); then
  if [[ -x "$build/bench/bench-codec" ]]; then
    echo
    echo "Codec micro-benchmarks"
    "$build/bench/bench-codec" --benchmark_min_time=0.2
  else
    echo "Codec micro-benchmarks: not built (libbenchmark-dev missing)" >&2
  fi
fi
exit "$status"
