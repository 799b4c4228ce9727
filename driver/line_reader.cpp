#include "driver/line_reader.h"

#include <iostream>

#include "platform/platform.h"

namespace status_bridge {

bool ReadLine(std::istream& in, std::string* line) {
  if (!std::getline(in, *line)) {
    return false;
  }
  // getline sets eofbit only when the input ended before an LF.
  bool ended_by_lf = !in.eof();
  if (kLineReaderDropsCrBeforeLf && ended_by_lf && !line->empty() &&
      line->back() == '\r') {
    line->pop_back();
  }
  return true;
}

bool ReadRequestLine(std::string* line) { return ReadLine(std::cin, line); }

}  // namespace status_bridge
