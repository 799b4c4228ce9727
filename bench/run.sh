#!/usr/bin/env bash
# The benchmark: the bridge's release build, with a null vendor library,
# measured with standard tools against floor programs measured in the same
# run. Prints five sections with their targets and PASS/FAIL:
#   1. server: 200,000 typical requests through --server (hyperfine), against
#      the contract floor (target <= 1.5 x) and the I/O floor (no target);
#   2. one-shot: 300 runs (hyperfine), against the I/O floor (<= 1.10 x);
#   3. scaling: a block_name of 1, 16 and 64 MiB, each in a one-shot run of its
#      own (hyperfine): time per MiB within 1.5 x across the sizes; peak
#      resident memory (GNU time's %M) at most 5 x the line plus a base;
#   4. instructions per server request (callgrind): 10,000 requests minus
#      none, against a regression budget;
#   5. the Python client: a batch through query_many() against as many
#      query() calls (bench/client_batch.py): target >= 5 x the rate.
# Section 1 also times the server of an earlier revision, built from the
# repository's history, on the same requests: the bridge may take at most
# 1.15 x its time. Without that revision (a shallow clone) this is skipped.
# Time figures need an idle machine; the instruction count does not.
#
# Usage: bench/run.sh [--micro] [--baseline REV]
#   --micro     also runs the codec's micro-benchmarks (Google Benchmark).
#   --baseline  the earlier revision (default 091acca, the last one whose
#               request reader and line reader were tuned for speed).
#
# Installs what it needs through tools/install-packages.sh (as root), builds
# into build/bench and keeps hyperfine's JSON exports in build/bench/results.
# Takes one to two minutes on two cores. Exits 0 when every
# target holds, 1 when one is missed, 2 when the benchmark itself fails.
set -Eeuo pipefail
trap 'echo "bench/run.sh: failed at line $LINENO" >&2; exit 2' ERR
fail() { echo "bench/run.sh: $*" >&2; exit 2; }

micro=0
baseline_rev=091acca
while (($# > 0)); do
  case "$1" in
    --micro) micro=1 ;;
    --baseline) baseline_rev="${2:?}"; shift ;;
    *) echo "usage: bench/run.sh [--micro] [--baseline REV]" >&2; exit 2 ;;
  esac
  shift
done

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/bench"
results="$build/results"
"$root/tools/install-packages.sh" hyperfine valgrind time jq cmake \
  ninja-build g++ libbenchmark-dev >&2
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSTATUS_BRIDGE_BUILD_BENCH=ON -DSTATUS_BRIDGE_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
# The earlier revision's server, built the same way from its own sources.
baseline=""
if git -C "$root" cat-file -e "$baseline_rev^{commit}" 2>/dev/null; then
  rm -rf "$build/baseline-src"
  mkdir -p "$build/baseline-src"
  git -C "$root" archive "$baseline_rev" | tar -x -C "$build/baseline-src"
  cmake -S "$build/baseline-src" -B "$build/baseline" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DSTATUS_BRIDGE_BUILD_TESTS=OFF >/dev/null
  cmake --build "$build/baseline" -j2 --target status-bridge >/dev/null
  baseline="$build/baseline/status-bridge"
fi
rm -rf "$results"
mkdir -p "$results"
# Scratch files, and a link to the build of a fixed length: callgrind runs the
# programs through it (below).
work="$(mktemp -d /tmp/status-bridge-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT
ln -s "$build" "$work/build"

bridge="$build/status-bridge"
floor="$build/bench/bench-floor"
contract_floor="$build/bench/bench-contract-floor"
vendor="$build/bench/null-status-library/LMCDLL70.dll"
# Every program runs with just the two variables the bridge needs, the same
# on every machine: the trace switch is looked up in this environment.
clean=(env -i "LMCDLL70_PATH=$vendor" ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1)
q() { printf '%q' "$1"; }
# calc <printf format> <awk expressions>: prints their values.
calc() { awk -v format="$1" "BEGIN { printf(format, $2) }"; }

summary=()
missed=0
# verdict <what> <figure> <target> <awk condition for PASS>
verdict() {
  local mark=PASS
  if ! awk "BEGIN { exit !($4) }"; then
    mark=FAIL
    missed=$((missed + 1))
  fi
  summary+=("$(printf '  %-38s %-9s target %-10s %s' "$1" "$2" "$3" "$mark")")
  echo "${summary[-1]}"
}

# timed <name> <rounds> <runs> <warm-up runs> (<label> <command>)...: runs
# hyperfine <rounds> times, the commands in turn forwards and backwards so
# that a change in the machine's load falls on all of them; each round's
# JSON export is results/<name>-<round>.json. Each command starts with exec:
# hyperfine takes off the time the shell needs to start, but a shell that
# runs a command with a redirection forks for it unless told to exec.
timed() {
  local name="$1" rounds="$2" runs="$3" warmup="$4" forwards=() backwards=()
  shift 4
  while (($# > 0)); do
    forwards+=(-n "$1" "$2")
    backwards=(-n "$1" "$2" "${backwards[@]}")
    shift 2
  done
  for ((round = 1; round <= rounds; round++)); do
    local order=("${forwards[@]}")
    ((round % 2 == 1)) || order=("${backwards[@]}")
    "${clean[@]}" "$(command -v hyperfine)" --style none --output pipe \
      --runs "$runs" --warmup "$warmup" \
      --export-json "$results/$name-$round.json" "${order[@]}" \
      2>"$work/hyperfine.log" || fail "hyperfine: $(cat "$work/hyperfine.log")"
  done
}
# median <name> <label>: the median seconds of that command's runs.
median() {
  jq -s --arg name "$2" '[.[].results[] | select(.command == $name) |
    .times[]] | sort | (.[(length - 1) / 2 | floor] + .[length / 2 | floor]) / 2' \
    "$results/$1"-*.json
}

# The typical requests, with fields of the usual lengths, an escaped path and
# every block type, and the answers the bridge gives them with the null vendor
# library.
awk -v count=200000 -v requests="$work/typical.jsonl" \
  -v answers="$work/typical.expected" '
  function random() { seed = seed * 16807 % 2147483647; return seed }
  function pick(list, n) { return list[random() % n + 1] }
  BEGIN {
    split("soc_top pcie_gen4 ddr5_phy usb3_ss mcu_core", project)
    split("analog_ip std_cells io_ring mem_macros clock_gen", library)
    split("U_PLL_CORE u_ddr_phy_ctrl U_SERDES_LANE u_sram_2kx32 " \
          "U_BANDGAP_REF u_io_pad_gpio", block)
    split("RUL RUL RULP LP - 2", type)
    seed = 20240611
    for (i = 0; i < count; i++) {
      id = sprintf("req-%08x-%06d", random(), i)
      lmc = "D:\\\\designs\\\\" pick(project, 5) "\\\\lib\\\\" \
            pick(library, 5) ".lmc"
      name = sprintf("%s_%02d", pick(block, 6), random() % 100)
      t = pick(type, 6)
      printf "{\"op\":\"is_verified\",\"request_id\":\"%s\",\"lmc_file\":" \
             "\"%s\",\"block_name\":\"%s\"%s}\n", id, lmc, name,
             t == "-" ? "" : ",\"block_type\":\"" t "\"" > requests
      answer = sprintf("{\"ok\":true,\"request_id\":\"%s\",\"block_name\":" \
             "\"%s\",\"lmc_file\":\"%s\",\"status\":\"%s\",\"source\":" \
             "\"IsVerifiedReuseBlock\",\"raw_status\":%d}", id, name, lmc,
             t == "RUL" ? "READY" : "PENDING", t == "RUL")
      print answer > answers
      answer_bytes += length(answer) + 1
      name_bytes += length(name)
      lmc_bytes += length(lmc) - 4  # Four escaped backslashes.
    }
    printf "%.0f %.0f %.0f\n", answer_bytes / count, name_bytes / count,
           lmc_bytes / count
  }' >"$work/lengths"
read -r answer_bytes name_bytes lmc_bytes <"$work/lengths"
head -n 1 "$work/typical.jsonl" >"$work/one.jsonl"
head -n 1 "$work/typical.expected" >"$work/one.expected"
head -n 10000 "$work/typical.jsonl" >"$work/10k.jsonl"

# The bridge must answer exactly as expected, the contract floor line for line.
"${clean[@]}" "$bridge" --server <"$work/typical.jsonl" |
  cmp -s - "$work/typical.expected" || fail "wrong answers from the bridge"
if [[ -n $baseline ]]; then
  "${clean[@]}" "$baseline" --server <"$work/typical.jsonl" |
    cmp -s - "$work/typical.expected" || fail "wrong answers from $baseline_rev"
fi
[[ $("${clean[@]}" "$contract_floor" "$answer_bytes" "$name_bytes" \
  "$lmc_bytes" <"$work/typical.jsonl" | wc -l) == 200000 ]] ||
  fail "the contract floor does not answer every line"
one_shot() { echo "exec $(q "$bridge") < $(q "$1")"; }

read -r load _ </proc/loadavg
echo "status-bridge benchmark: release build, null vendor library, $(nproc)" \
  "cores, load average $load at start."
echo "Time figures need an idle machine; the instruction count does not."

echo
echo "1. Server: 200,000 typical requests through --server, answers read from a"
echo "   pipe. Floors: the I/O floor reads the lines as the bridge does and writes"
echo "   a fixed $answer_bytes-byte answer, one flush a line; the contract floor adds,"
echo "   a request, three getenv calls of the trace switch and three vendor strings"
echo "   of $name_bytes, $lmc_bytes and $name_bytes bytes, built and destroyed. Medians of 10"
echo "   runs each, taking turns over 10 rounds, with the earlier revision's server."
input="$(q "$work/typical.jsonl")"
earlier=()
[[ -z $baseline ]] || earlier=("$baseline_rev" "exec $(q "$baseline") --server < $input")
timed server 10 1 0 \
  bridge "exec $(q "$bridge") --server < $input" \
  contract-floor "exec $(q "$contract_floor") $answer_bytes $name_bytes \
$lmc_bytes < $input" \
  io-floor "exec $(q "$floor") --server $answer_bytes < $input" "${earlier[@]}"
server=$(median server bridge)
c=$(median server contract-floor)
f=$(median server io-floor)
for row in "bridge $server" "contract floor $c" "I/O floor $f"; do
  calc "  %-15s %6.3f s %6.2f us a request\n" \
    "\"${row% *}\", ${row##* }, ${row##* } / 200000 * 1e6"
done
echo "  bridge / I/O floor: $(calc '%.2f x' "$server / $f") (no target)"
verdict "server, bridge / contract floor" "$(calc '%.2f x' "$server / $c")" \
  "<= 1.5 x" "$server / $c <= 1.5"
if [[ -n $baseline ]]; then
  e=$(median server "$baseline_rev")
  calc "  %-15s %6.3f s %6.2f us a request\n" "\"$baseline_rev\", $e, $e / 200000 * 1e6"
  verdict "server, bridge / $baseline_rev" "$(calc '%.2f x' "$server / $e")" \
    "<= 1.15 x" "$server / $e <= 1.15"
else
  echo "  $baseline_rev is not in this clone's history: no comparison with it."
fi

echo
echo "2. One-shot: 300 runs of one typical request, each loading the library."
echo "   Floor: the I/O floor's one-shot run, which loads the same library,"
echo "   reads the line and writes a fixed answer of the same length. Medians,"
echo "   the two taking turns over 15 rounds."
timed one-shot 15 20 2 bridge "$(one_shot "$work/one.jsonl")" \
  io-floor "exec $(q "$floor") --one-shot $(wc -c <"$work/one.expected") \
$(q "$vendor") < $(q "$work/one.jsonl")"
b=$(median one-shot bridge)
f=$(median one-shot io-floor)
calc "  bridge %.2f ms, I/O floor %.2f ms; one one-shot run costs as much as \
%.0f server requests\n" "$b * 1e3, $f * 1e3, $b / $server * 200000"
verdict "one-shot, bridge / I/O floor" "$(calc '%.3f x' "$b / $f")" \
  "<= 1.10 x" "$b / $f <= 1.10"

echo
echo "3. Scaling: one request whose block_name is 1, 16 or 64 MiB. Time: its"
echo "   one-shot run (all its memory fresh) minus a typical one-shot run, per"
echo "   MiB; medians of 30, 10 and 5 runs, taking turns. Peak resident memory"
echo "   (GNU time's %M): one-shot and server runs of that one request."
# long <bytes> <head> <tail>: a line whose block_name is <bytes> long.
long() { printf '%s' "$2"; head -c "$1" /dev/zero | tr '\0' B; echo "$3"; }
lmc='D:\\designs\\soc_top\\lib\\analog_ip.lmc'
# peak_kib <input> <bridge arguments>: the bridge's peak RSS in KiB; its
# answer is checked against <input>'s .expected file.
peak_kib() {
  "${clean[@]}" /usr/bin/time -f %M -o "$work/rss" "$bridge" "${@:2}" \
    <"$1" >"$work/answer"
  cmp -s "$work/answer" "${1%.jsonl}.expected" || fail "wrong answer for $1"
  cat "$work/rss"
}
base=$(peak_kib "$work/one.jsonl")
server_base=$(peak_kib "$work/one.jsonl" --server)
((server_base <= base)) || base=$server_base
printf '  %-10s %10s %11s %14s %14s %14s\n' block_name "line, MiB" \
  "ms per MiB" "one-shot peak" "server peak" "limit"
fastest=1e300 slowest=0 worst=0
for mib in 1 16 64; do
  input="$work/long-$mib.jsonl"
  long $((mib << 20)) '{"op":"is_verified","request_id":"long-1","lmc_file":"'"$lmc"'","block_name":"' \
    '","block_type":"RUL"}' >"$input"
  long $((mib << 20)) '{"ok":true,"request_id":"long-1","block_name":"' \
    '","lmc_file":"'"$lmc"'","status":"READY","source":"IsVerifiedReuseBlock","raw_status":1}' \
    >"${input%.jsonl}.expected"
  timed "scaling-$mib" $((mib == 64 ? 5 : 10)) $((mib == 1 ? 3 : 1)) 0 \
    typical "$(one_shot "$work/one.jsonl")" long "$(one_shot "$input")"
  per_mib=$(calc %.3f "($(median "scaling-$mib" long) - \
$(median "scaling-$mib" typical)) * 1e3 / $mib")
  fastest=$(calc %.3f "$per_mib < $fastest ? $per_mib : $fastest")
  slowest=$(calc %.3f "$per_mib > $slowest ? $per_mib : $slowest")
  line=$(stat -c %s "$input")
  one_shot_kib=$(peak_kib "$input")
  server_kib=$(peak_kib "$input" --server)
  for kib in "$one_shot_kib" "$server_kib"; do
    worst=$(calc %.2f "($kib - $base) * 1024 / $line > $worst ? \
($kib - $base) * 1024 / $line : $worst")
  done
  calc "  %-10s %10.1f %11.3f %10.1f MiB %10.1f MiB %10.1f MiB\n" \
    "\"$mib MiB\", $line / 1048576, $per_mib, $one_shot_kib / 1024, \
$server_kib / 1024, (5 * $line / 1024 + $base) / 1024"
  rm -f "$input" "${input%.jsonl}.expected"
done
calc "  Base %.1f MiB: the peak of the same runs with one typical request, what \
any run holds\n  whatever the line's length (program, libraries, stream and \
read buffers).\n" "$base / 1024"
verdict "time per MiB, slowest / fastest" \
  "$(calc '%.2f x' "$slowest / $fastest")" "<= 1.5 x" "$slowest / $fastest <= 1.5"
verdict "peak RSS above base, per line byte" "$worst" "<= 5" "$worst <= 5"

echo
echo "4. Instructions per server request: callgrind, 10,000 typical requests"
echo "   minus none. Run from / through a link of a fixed length, so that the"
echo "   stack lies alike in every clone: its place moves the count of a"
echo "   string comparison by up to 12 instructions a request."
# per_request <program> <arguments>: instructions per request of that server.
per_request() {
  local totals=() input
  for input in "$work/10k.jsonl" /dev/null; do
    (cd / && env -i "LMCDLL70_PATH=$work/build/bench/null-status-library/LMCDLL70.dll" \
      ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 "$(command -v valgrind)" \
      --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
      "$work/build/$1" "${@:2}" <"$input" >/dev/null 2>"$work/callgrind.log") ||
      fail "callgrind: $(cat "$work/callgrind.log")"
    totals+=("$(awk '/^totals:/ { print $2 }' "$work/callgrind.out")")
  done
  calc %.0f "(${totals[0]} - ${totals[1]}) / 10000"
}
b=$(per_request status-bridge --server)
c=$(per_request bench/bench-contract-floor "$answer_bytes" "$name_bytes" \
  "$lmc_bytes")
f=$(per_request bench/bench-floor --server "$answer_bytes")
echo "  bridge $b, contract floor $c, I/O floor $f instructions a request"
# The budget is the count of the plain request reader, which walks the line
# byte by byte outside strings where the earlier reader hopped from quote to
# quote with bit masks for its keys: about 2,000 instructions a request more,
# well under a microsecond. Raise it only for a change that is worth its
# instructions.
verdict "instructions per server request" "$b" "<= 8500" "$b <= 8500"

echo
echo "5. Python client: 20,000 typical requests as one query_many() batch against"
echo "   20,000 query() calls, each on a bridge of its own (and the batch on a pool"
echo "   of two), answers checked. Medians of 3 rounds, taking turns."
# The interpreter itself, not a launcher that needs the caller's environment.
python=$(python3 -c 'import sys; print(sys.executable)')
"${clean[@]}" "$python" "$root/bench/client_batch.py" "$bridge" \
  20000 3 >"$work/client_batch.out" || fail "bench/client_batch.py failed"
grep -v '^ratio ' "$work/client_batch.out"
ratio=$(awk '/^ratio / { print $2 }' "$work/client_batch.out")
verdict "client, query_many() / query() rate" "$(calc '%.2f x' "$ratio")" \
  ">= 5 x" "$ratio >= 5"

echo
echo "Summary"
printf '%s\n' "${summary[@]}"
if ((missed > 0)); then
  echo "$missed of ${#summary[@]} targets missed."
else
  echo "Every target met."
fi
echo "Took $SECONDS s."

if ((micro)); then
  echo
  echo "Codec micro-benchmarks"
  "$build/bench/bench-codec" --benchmark_min_time=0.2
fi
((missed == 0)) || exit 1
