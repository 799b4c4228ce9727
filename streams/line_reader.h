#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace status_bridge {

// A byte source and the bytes read from it ahead of the lines taken so far.
struct LineInput {
  // Reads at most `capacity` bytes into `buffer`, waiting for at least one;
  // returns how many, 0 at the end of the input (or on a read error, which
  // counts as the end).
  size_t (*read)(char* buffer, size_t capacity) = ReadStandardInput;
  size_t begin = 0;  // The first byte of `buffer` not yet taken.
  size_t end = 0;    // One past the last byte read into `buffer`.
  char buffer[size_t{1} << 16];
};

// Reads the next request line from `input` into `line`: the bytes up to the
// next LF, without it; NUL and CR bytes stay, except one CR directly before
// the LF on platforms whose streams do not drop it themselves. Returns false
// when the input ends before the first byte. Bytes that end at the end of
// input without an LF still form a line.
bool ReadRequestLine(LineInput* input, std::string* line);

}  // namespace status_bridge
