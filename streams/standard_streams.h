#pragma once

#include <cstddef>
#include <functional>
#include <streambuf>
#include <utility>

namespace status_bridge {

// A stream buffer that keeps no bytes of its own: whatever it is handed goes
// at once to `write`, so a flush has nothing left to do. When a write fails,
// the rest of that line is dropped (the bytes up to and including the next
// LF) and the line after it is written as usual. The stream it serves never
// enters a failed state, and no byte is handed to `write` twice.
class WriteThroughBuffer : public std::streambuf {
 public:
  // Writes `size` bytes at `data`; returns how many were written, fewer than
  // `size` when the write failed.
  using WriteFn = std::function<size_t(const char* data, size_t size)>;

  explicit WriteThroughBuffer(WriteFn write) : write_(std::move(write)) {}

 protected:
  std::streamsize xsputn(const char* data, std::streamsize count) override;
  int_type overflow(int_type byte) override;

 private:
  WriteFn write_;
  bool dropping_line_ = false;  // A write of the current line failed.
};

// For its lifetime std::cout and std::cerr write through WriteThroughBuffers
// to the descriptors of standard output and standard error.
class StandardStreams {
 public:
  StandardStreams();
  ~StandardStreams();
  StandardStreams(const StandardStreams&) = delete;
  StandardStreams& operator=(const StandardStreams&) = delete;

 private:
  WriteThroughBuffer out_;
  WriteThroughBuffer err_;
  std::streambuf* old_out_;
  std::streambuf* old_err_;
};

}  // namespace status_bridge
