#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace status_bridge {

// A byte source and the bytes read from it ahead of the lines taken so far.
struct LineInput {
  // Reads at most `capacity` bytes, waiting for one; 0 at the end.
  size_t (*read)(char* buffer, size_t capacity) = ReadStandardInput;
  size_t begin = 0;  // The first byte of `buffer` not yet taken.
  size_t end = 0;    // One past the last byte read into `buffer`.
  char buffer[size_t{1} << 16];
};

// Reads the next line into `line`: the bytes up to the next LF, without it;
// NUL and CR stay, but for a CR before the LF where the streams keep it.
// False when the input ends before the first byte; a last line may lack LF.
bool ReadRequestLine(LineInput* input, std::string* line);

}  // namespace status_bridge
