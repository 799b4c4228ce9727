#include "streams/standard_streams.h"

#include <cstdio>
#include <cstring>

#include "protocol/answer_lines.h"

namespace status_bridge {

bool ReadRequestLine(LineInput* input, std::string* line) {
  line->clear();
  bool read_any = false;
  for (;;) {
    if (input->begin == input->end) {
      input->begin = 0;
      input->end = input->read(input->buffer, sizeof(input->buffer));
      if (input->end == 0) {
        return read_any;
      }
    }
    read_any = true;
    const char* from = input->buffer + input->begin;
    size_t available = input->end - input->begin;
    const char* lf =
        static_cast<const char*>(std::memchr(from, '\n', available));
    if (lf == nullptr) {
      line->append(from, available);
      input->begin = input->end;
      continue;
    }
    line->append(from, static_cast<size_t>(lf - from));
    input->begin += static_cast<size_t>(lf - from) + 1;
    if (kLineReaderDropsCrBeforeLf && !line->empty() && line->back() == '\r') {
      line->pop_back();
    }
    return true;
  }
}

void WriteAnswerLine(AnswerWriter* out) {
  if (!out->unsent.empty()) {
    size_t written =
        out->write(out->descriptor, out->unsent.data(), out->unsent.size());
    out->unsent.erase(0, written);
    if (!out->unsent.empty()) {
      return;
    }
  }
  size_t written =
      out->write(out->descriptor, out->line.data(), out->line.size());
  if (written > 0 && written < out->line.size()) {
    // The line's own memory keeps the rest; nothing is allocated here.
    out->unsent.swap(out->line);
    out->unsent.erase(0, written);
  }
}

void WriteErrorLine(AnswerWriter* out, std::string_view message) {
  ComposeErrorLine(message, &out->line);
  WriteAnswerLine(out);
}

void Trace(const char* event) {
  if (!SwitchIsOn(kTraceVariable)) {
    return;
  }
  // Every event is a short fixed word: the line is composed on the stack,
  // the event cut to what the line leaves beside the prefix, LF and NUL.
  static constexpr char kPrefix[] = "[status-bridge] ";
  char line[96];
  int room = static_cast<int>(sizeof(line) - sizeof(kPrefix) - 1);
  int length =
      std::snprintf(line, sizeof(line), "%s%.*s\n", kPrefix, room, event);
  constexpr int kStandardError = 2;
  WriteStandardStream(kStandardError, line, static_cast<size_t>(length));
}

}  // namespace status_bridge
