#include "process/line_reader.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace status_bridge {

namespace {

// Sets `line` to the bytes of `pieces` followed by `size` bytes at `tail`,
// copying each byte once into a line allocated at its final size.
void JoinLine(const std::vector<std::string>& pieces, const char* tail,
              size_t size, std::string* line) {
  if (pieces.empty()) {
    line->assign(tail, size);
    return;
  }
  size_t total = size;
  for (const std::string& piece : pieces) {
    total += piece.size();
  }
  line->clear();
  line->reserve(total);
  for (const std::string& piece : pieces) {
    line->append(piece);
  }
  line->append(tail, size);
}

}  // namespace

bool ReadLine(LineInput* input, std::string* line) {
  // A line longer than the buffer is kept as the buffer's successive
  // contents and joined once its end is known. Growing the line as it comes
  // would copy its bytes again at every doubling and touch up to three times
  // its length in fresh memory.
  std::vector<std::string> pieces;
  for (;;) {
    if (input->begin == input->end) {
      input->begin = 0;
      input->end = input->read(input->buffer, sizeof(input->buffer));
      if (input->end == 0) {
        if (pieces.empty()) {
          return false;
        }
        JoinLine(pieces, input->buffer, 0, line);
        return true;
      }
    }
    const char* from = input->buffer + input->begin;
    size_t available = input->end - input->begin;
    const char* lf =
        static_cast<const char*>(std::memchr(from, '\n', available));
    if (lf == nullptr) {
      pieces.emplace_back(from, available);
      input->begin = input->end;
      continue;
    }
    JoinLine(pieces, from, static_cast<size_t>(lf - from), line);
    input->begin += static_cast<size_t>(lf - from) + 1;
    if (kLineReaderDropsCrBeforeLf && !line->empty() && line->back() == '\r') {
      line->pop_back();
    }
    return true;
  }
}

bool ReadRequestLine(std::string* line) {
  static LineInput input = {ReadStandardInput, {}, 0, 0};
  return ReadLine(&input, line);
}

}  // namespace status_bridge
