#include "streams/line_reader.h"

#include <cstring>

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

}  // namespace status_bridge
