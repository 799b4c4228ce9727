// The contract floor: what the contract asks of every request and no more.
// Per line it reads the trace switch at the three trace points and builds and
// destroys the vendor strings (block name, LMC file, the block name's by-value
// copy) through the stand-in string runtime; it parses nothing and answers
// with a fixed line, in one write through the bridge's platform layer.
//
// Usage: bench-contract-floor <answer bytes, LF aside> <block_name bytes>
//            <lmc_file bytes>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "standin/cstring_runtime/standin_cstring.h"

namespace {

void Trace(const char* event) {
  const char* value = std::getenv("ORVEK_STATUS_BRIDGE_TRACE");
  if (value != nullptr && std::strcmp(value, "1") == 0) {
    std::fprintf(stderr, "[floor] %s\n", event);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: bench-contract-floor BYTES BYTES BYTES\n", stderr);
    return 2;
  }
  std::string answer(std::strtoull(argv[1], nullptr, 10), 'x');
  answer += '\n';
  std::string block_name_text(std::strtoull(argv[2], nullptr, 10), 'B');
  std::string lmc_file_text(std::strtoull(argv[3], nullptr, 10), 'L');
  // Lines are read in 64 KiB blocks, as the bridge reads them.
  static char buffer[1 << 16];
  std::setvbuf(stdin, buffer, _IOFBF, sizeof(buffer));
  char* line = nullptr;
  size_t capacity = 0;
  while (getline(&line, &capacity, stdin) > 0) {
    StandInCString block_name;
    StandInCString lmc_file;
    StandInCString by_value;
    StandInCStringConstruct(&block_name, block_name_text.c_str());
    StandInCStringConstruct(&lmc_file, lmc_file_text.c_str());
    Trace("calling-status-function");
    StandInCStringCopy(&by_value, &block_name);
    StandInCStringDestroy(&by_value);  // What the export does with its copy.
    Trace("status-function-returned");
    StandInCStringDestroy(&lmc_file);
    StandInCStringDestroy(&block_name);
    Trace("cstring-scope-ended");
    if (status_bridge::WriteStandardStream(1, answer.data(), answer.size()) !=
        answer.size()) {
      return 1;
    }
  }
  std::free(line);
  return 0;
}
