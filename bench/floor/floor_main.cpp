// The floor of the benchmark: the least a program can do and still speak the
// protocol's I/O. It reads request lines exactly as the bridge does, parses
// nothing, and answers each line with one fixed line of a given length,
// written in one piece and flushed.
//
// Usage:
//   bench-floor --server <answer bytes>
//       answers every line until the input ends;
//   bench-floor --one-shot <answer bytes> <library>
//       loads <library> as the bridge loads the vendor library, then answers
//       one line.

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "process/line_reader.h"

namespace {

// The fixed answer: a JSON object padded to `bytes` bytes, LF included.
std::string FixedAnswer(size_t bytes) {
  static constexpr char kHead[] = "{\"ok\":true,\"floor\":\"";
  static constexpr char kTail[] = "\"}\n";
  size_t fixed = sizeof(kHead) - 1 + sizeof(kTail) - 1;
  size_t padding = bytes > fixed ? bytes - fixed : 0;
  return kHead + std::string(padding, 'x') + kTail;
}

// Writes the answer in one piece and flushes, as the bridge writes its lines.
void WriteAnswer(const std::string& answer) {
  std::cout.write(answer.data(), static_cast<std::streamsize>(answer.size()));
  std::cout.flush();
}

}  // namespace

int main(int argc, char** argv) {
  // The same stream set-up as the bridge's own entry point.
  std::ios::sync_with_stdio(false);

  bool server = argc == 3 && std::strcmp(argv[1], "--server") == 0;
  bool one_shot = argc == 4 && std::strcmp(argv[1], "--one-shot") == 0;
  if (!server && !one_shot) {
    std::cerr << "usage: bench-floor --server <answer bytes> | "
                 "--one-shot <answer bytes> <library>\n";
    return 1;
  }
  std::string answer =
      FixedAnswer(static_cast<size_t>(std::strtoull(argv[2], nullptr, 10)));
  std::string line;
  if (server) {
    while (status_bridge::ReadRequestLine(&line)) {
      WriteAnswer(answer);
    }
    return 0;
  }
  // The bridge's loader calls dlopen with these flags on POSIX.
  if (dlopen(argv[3], RTLD_NOW | RTLD_LOCAL) == nullptr) {
    std::cerr << "bench-floor: " << dlerror() << "\n";
    return 2;
  }
  if (!status_bridge::ReadRequestLine(&line)) {
    return 5;
  }
  WriteAnswer(answer);
  return 0;
}
