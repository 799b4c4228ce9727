#include "driver/line_reader.h"

#include <istream>
#include <streambuf>

#include "platform/platform.h"

namespace status_bridge {

namespace {

// Standard input as a stream buffer filled by ReadStandardInput. The standard
// library's own file buffer throws on a read error, and the request stream
// rethrows whatever getline meets (see RequestInput), so a closed or
// unreadable standard input would end the process like exhausted memory;
// here a read error is the end of the input.
class StandardInputBuffer : public std::streambuf {
 protected:
  int_type underflow() override {
    size_t count = ReadStandardInput(buffer_, sizeof(buffer_));
    if (count == 0) {
      return traits_type::eof();
    }
    setg(buffer_, buffer_, buffer_ + count);
    return traits_type::to_int_type(buffer_[0]);
  }

 private:
  char buffer_[1 << 16];
};

// The stream that request lines are read from.
struct RequestInput {
  // Exhausted memory while a line grows raises std::bad_alloc inside getline,
  // which the stream records as badbit; rethrown, it ends the process instead
  // of passing for the end of the input.
  RequestInput() : stream(&buffer) { stream.exceptions(std::ios::badbit); }

  StandardInputBuffer buffer;
  std::istream stream;
};

}  // namespace

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

bool ReadRequestLine(std::string* line) {
  static RequestInput input;
  return ReadLine(input.stream, line);
}

}  // namespace status_bridge
