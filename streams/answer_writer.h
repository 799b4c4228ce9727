#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace status_bridge {

// The one writer of the answer channel. An answer is composed in `line` and
// leaves in one call to the platform's write loop.
struct AnswerWriter {
  // The answer channel's descriptor, from SeparateAnswerChannel.
  int descriptor = -1;
  // The answer being written; its memory is kept from one answer to the next.
  std::string line;
  // The rest of an answer whose write failed part-way (a full disk, say),
  // written before the next answer, so that the channel only ever holds
  // whole lines.
  std::string unsent;
  size_t (*write)(int descriptor, const char* data,
                  size_t size) = WriteStandardStream;
};

// Writes `out->line`, one whole line ended by LF, after any unsent rest of
// the answer before it. When the rest cannot be written in full, or no byte
// of the line can, the line is dropped whole; a line written in part leaves
// its rest unsent. Allocates nothing, and reports no failure.
void WriteAnswerLine(AnswerWriter* out);

// Writes the error line {"ok":false,"error":"<message>"}.
void WriteErrorLine(AnswerWriter* out, std::string_view message);

}  // namespace status_bridge
