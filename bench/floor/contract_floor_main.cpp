// The contract floor: the I/O floor's server loop plus what the contract
// makes every valid request do, and nothing else. Per line it reads the trace
// switch afresh at each of the three trace points of a request, and builds and
// destroys the three vendor strings through the stand-in string runtime's C
// API: the block name and the LMC file, of the given lengths, and the copy of
// the block name made for the by-value argument, which the export destroys.
// It parses nothing and answers with a fixed line, as the I/O floor does.
//
// Usage: bench-contract-floor <answer bytes> <block_name bytes> <lmc_file
// bytes>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "bench/floor/fixed_answer.h"
#include "standin/cstring_runtime/standin_cstring.h"
#include "streams/standard_streams.h"

namespace {

// Reads the trace switch as the bridge's Trace does at every trace point.
// The benchmark runs with tracing off, so nothing is ever written.
void ReadTraceSwitch() {
  const char* value = std::getenv(status_bridge::kTraceVariable);
  static_cast<void>(value != nullptr && std::strcmp(value, "1") == 0);
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  if (argc != 4) {
    std::cerr << "usage: bench-contract-floor <answer bytes> "
                 "<block_name bytes> <lmc_file bytes>\n";
    return 1;
  }
  std::string answer = bench::FixedAnswer(std::strtoull(argv[1], nullptr, 10));
  std::string block_name_text(std::strtoull(argv[2], nullptr, 10), 'B');
  std::string lmc_file_text(std::strtoull(argv[3], nullptr, 10), 'L');
  status_bridge::LineInput input;
  std::string line;
  while (status_bridge::ReadRequestLine(&input, &line)) {
    StandInCString block_name;
    StandInCString lmc_file;
    StandInCString by_value;
    StandInCStringConstruct(&block_name, block_name_text.c_str());
    StandInCStringConstruct(&lmc_file, lmc_file_text.c_str());
    ReadTraceSwitch();  // calling-status-function
    StandInCStringCopy(&by_value, &block_name);
    StandInCStringDestroy(&by_value);  // What the export does with its copy.
    ReadTraceSwitch();                 // status-function-returned
    StandInCStringDestroy(&lmc_file);
    StandInCStringDestroy(&block_name);
    ReadTraceSwitch();  // cstring-scope-ended
    bench::WriteAnswer(answer);
  }
  return 0;
}
