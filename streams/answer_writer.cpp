#include "streams/answer_writer.h"

#include "protocol/answer_lines.h"

namespace status_bridge {

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

}  // namespace status_bridge
