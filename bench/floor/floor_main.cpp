// The I/O floor: the least a program can do and still speak the protocol's
// I/O. It reads request lines exactly as the bridge does, parses nothing, and
// answers each line with one fixed line of a given length.
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

#include "bench/floor/fixed_answer.h"
#include "streams/standard_streams.h"

int main(int argc, char** argv) {
  // Freed from stdio, standard output writes each flushed line in one write,
  // as the bridge's own write loop does.
  std::ios::sync_with_stdio(false);

  bool server = argc == 3 && std::strcmp(argv[1], "--server") == 0;
  bool one_shot = argc == 4 && std::strcmp(argv[1], "--one-shot") == 0;
  if (!server && !one_shot) {
    std::cerr << "usage: bench-floor --server <answer bytes> | "
                 "--one-shot <answer bytes> <library>\n";
    return 1;
  }
  std::string answer = bench::FixedAnswer(std::strtoull(argv[2], nullptr, 10));
  status_bridge::LineInput input;
  std::string line;
  if (server) {
    while (status_bridge::ReadRequestLine(&input, &line)) {
      bench::WriteAnswer(answer);
    }
    return 0;
  }
  // The bridge's loader calls dlopen with these flags on POSIX.
  if (dlopen(argv[3], RTLD_NOW | RTLD_LOCAL) == nullptr) {
    std::cerr << "bench-floor: " << dlerror() << "\n";
    return 2;
  }
  if (!status_bridge::ReadRequestLine(&input, &line)) {
    return 5;
  }
  bench::WriteAnswer(answer);
  return 0;
}
