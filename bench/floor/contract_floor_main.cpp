// The contract floor: the least a server can do and still do the work that
// the contract asks of every request. It reads and writes through the
// bridge's own platform layer, joins lines as the bridge must (64 KiB reads,
// each line copied out), and per line reads the trace switch at each of a
// request's three trace points and builds and destroys the three vendor
// strings through the stand-in string runtime: the block name and the LMC
// file, of the given lengths, and the block name's by-value copy, which the
// export destroys. It parses nothing and answers every line with one fixed
// line, the given bytes and an LF, in one write.
//
// Usage: bench-contract-floor <answer bytes> <block_name bytes>
//            <lmc_file bytes> [<library>]
// With a library it loads that first, as the bridge does, and answers one
// line: the floor of a one-shot run.

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

// Puts the next line of standard input, without its LF, into *line.
bool ReadLine(std::string* line) {
  static char buffer[1 << 16];
  static size_t begin = 0;
  static size_t end = 0;
  line->clear();
  for (;;) {
    if (begin == end) {
      begin = 0;
      end = status_bridge::ReadStandardInput(buffer, sizeof(buffer));
      if (end == 0) {
        return !line->empty();
      }
    }
    const char* from = buffer + begin;
    const void* lf = std::memchr(from, '\n', end - begin);
    size_t length =
        lf == nullptr ? end - begin : static_cast<const char*>(lf) - from;
    line->append(from, length);
    begin += length + (lf == nullptr ? 0 : 1);
    if (lf != nullptr) {
      return true;
    }
  }
}

std::string Text(const char* bytes, char fill) {
  return std::string(std::strtoull(bytes, nullptr, 10), fill);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fputs(
        "usage: bench-contract-floor <answer bytes> "
        "<block_name bytes> <lmc_file bytes> [<library>]\n",
        stderr);
    return 2;
  }
  std::string answer = Text(argv[1], 'x') + "\n";
  std::string block_name_text = Text(argv[2], 'B');
  std::string lmc_file_text = Text(argv[3], 'L');
  if (argc == 5 && status_bridge::LoadLibraryFromPath(argv[4]) == nullptr) {
    std::fputs("bench-contract-floor: cannot load the library\n", stderr);
    return 2;
  }
  std::string line;
  while (ReadLine(&line)) {
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
    if (argc == 5) {
      break;
    }
  }
  return 0;
}
