#pragma once

// Runs a program as a real process, with standard input from a file and
// standard output read by this process, and measures what the run cost.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// The batching of RunSpec::batch_reads.
inline constexpr size_t kBatchBytes = 16 * 1024;
inline constexpr long kBatchPauseMicroseconds = 100;

// What to run and how.
struct RunSpec {
  std::vector<std::string> argv;  // argv[0] is the program's path.
  std::vector<std::string> env;   // The whole environment, "NAME=value".
  std::string stdin_path;         // Standard input is this file.
  std::string stderr_path;  // Standard error goes here; /dev/null if empty.
  // When set, this process reads standard output in batches: after a read
  // that returns less than kBatchBytes it pauses for kBatchPause before the
  // next, so that answers gather in the pipe instead of each one waking the
  // reader. For runs of many answers, to time the program rather than the
  // scheduler.
  bool batch_reads = false;
  // When set, standard output is compared with it byte by byte.
  const std::string* expected_output = nullptr;
  // When set, the run goes through this bench-peak-rss program, which writes
  // its report to `peak_rss_report`, to measure the peak resident set.
  std::string peak_rss_tool;
  std::string peak_rss_report;
};

// What one run cost and what it wrote.
struct RunResult {
  double seconds = 0;        // From the spawn until the output ended and the
                             // process was reaped.
  int exit_code = -1;        // -1 when the process did not exit normally.
  double peak_rss_kib = -1;  // The peak resident set; -1 unless measured.
  double minor_faults = -1;  // Pages first touched; -1 unless measured.
  std::uint64_t output_bytes = 0;
  std::uint64_t output_lines = 0;  // LF bytes written.
  bool output_as_expected = true;  // Meaningful with expected_output only.
};

// Spawns `spec.argv`, reads its standard output to the end, and waits for
// it. Throws std::runtime_error when the process cannot be started.
RunResult RunMeasured(const RunSpec& spec);

// The current environment without the variables that steer the bridge or the
// stand-in libraries, plus `extra` ("NAME=value" each).
std::vector<std::string> CleanEnvironment(
    const std::vector<std::string>& extra);

}  // namespace bench
