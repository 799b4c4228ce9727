#pragma once

// The bridge's standard streams: request lines in from standard input,
// answer lines out through their one writer, trace lines on standard error.

#include <cstddef>
#include <string>
#include <string_view>

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

// The environment variable that switches tracing on when it is exactly "1".
inline constexpr char kTraceVariable[] = "ORVEK_STATUS_BRIDGE_TRACE";

// Writes "[status-bridge] <event>" as one line to standard error at once,
// when tracing is on; the variable is read afresh on every call. Allocates
// nothing, never fails and never changes the course of a run.
void Trace(const char* event);

}  // namespace status_bridge
