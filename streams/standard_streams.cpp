#include "streams/standard_streams.h"

#include <cstring>
#include <iostream>

#include "platform/platform.h"

namespace status_bridge {

std::streamsize WriteThroughBuffer::xsputn(const char* data,
                                           std::streamsize count) {
  size_t size = static_cast<size_t>(count);
  while (size > 0) {
    if (dropping_line_) {
      const char* lf = static_cast<const char*>(std::memchr(data, '\n', size));
      if (lf == nullptr) {
        break;
      }
      size -= static_cast<size_t>(lf + 1 - data);
      data = lf + 1;
      dropping_line_ = false;
      continue;
    }
    size_t written = write_(data, size);
    if (written >= size) {
      break;
    }
    data += written;
    size -= written;
    dropping_line_ = true;
  }
  // Every byte counts as taken, written or dropped: a shorter count would put
  // the stream into a failed state that stops every later line.
  return count;
}

WriteThroughBuffer::int_type WriteThroughBuffer::overflow(int_type byte) {
  if (!traits_type::eq_int_type(byte, traits_type::eof())) {
    char one = traits_type::to_char_type(byte);
    xsputn(&one, 1);
  }
  return traits_type::not_eof(byte);
}

namespace {

constexpr int kStandardOutput = 1;
constexpr int kStandardError = 2;

}  // namespace

StandardStreams::StandardStreams()
    : out_([](const char* data, size_t size) {
        return WriteStandardStream(kStandardOutput, data, size);
      }),
      err_([](const char* data, size_t size) {
        return WriteStandardStream(kStandardError, data, size);
      }),
      old_out_(std::cout.rdbuf(&out_)),
      old_err_(std::cerr.rdbuf(&err_)) {}

StandardStreams::~StandardStreams() {
  std::cout.rdbuf(old_out_);
  std::cerr.rdbuf(old_err_);
}

}  // namespace status_bridge
