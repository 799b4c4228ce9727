#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace status_bridge {

// The one writer of the answer channel: an answer composed in `line` leaves
// in one call to the platform's write loop.
struct AnswerWriter {
  // The answer channel's descriptor, from SeparateAnswerChannel.
  int descriptor = -1;
  // The answer being written; its memory is kept from one answer to the next.
  std::string line;
  // The rest of an answer whose write failed part-way (a full disk), written
  // before the next one: the channel only ever holds whole lines.
  std::string unsent;
  size_t (*write)(int descriptor, const char* data,
                  size_t size) = WriteStandardStream;
};

// Writes `out->line`, ended by LF, after any unsent rest before it. The line
// is dropped whole when that rest, or its own first byte, cannot be written;
// written in part, it leaves its rest unsent. Allocates nothing.
void WriteAnswerLine(AnswerWriter* out);

// Writes the error line {"ok":false,"error":"<message>"}.
void WriteErrorLine(AnswerWriter* out, std::string_view message);

}  // namespace status_bridge
