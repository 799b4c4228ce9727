#include "streams/standard_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace status_bridge {
namespace {

constexpr size_t kAll = ~size_t{0};

// Pieces written to a stream over a WriteThroughBuffer whose writes take, one
// call after another, at most the given numbers of bytes (fewer is a failed
// write); every piece is followed by a flush, as each line of the bridge is.
TEST(WriteThroughBufferTest, AFailedWriteDropsTheRestOfItsLineOnly) {
  struct Case {
    const char* what;
    std::vector<std::string> pieces;
    std::vector<size_t> takes;
    std::string written;
  } cases[] = {
      {"every write whole",
       {"a\n", "bc", "d\n"},
       {kAll, kAll, kAll},
       "a\nbcd\n"},
      {"a line that fails at once", {"a\n", "b\n"}, {0, kAll}, "b\n"},
      {"a line that fails halfway", {"abc\n", "d\n"}, {2, kAll}, "abd\n"},
      {"a line of three pieces that fails in the first",
       {"ab", "cd", "e\nf\n"},
       {1, kAll},
       "af\n"},
      {"one piece of three lines that fails in the second",
       {"a\nb\nc\n"},
       {2, kAll},
       "a\nc\n"},
      {"every write fails", {"a\n", "b\n"}, {0, 0}, ""},
  };
  for (const Case& c : cases) {
    std::string written;
    size_t call = 0;
    WriteThroughBuffer buffer([&](const char* data, size_t size) {
      size_t take = call < c.takes.size() ? c.takes[call] : 0;
      ++call;
      take = std::min(take, size);
      written.append(data, take);
      return take;
    });
    std::ostream stream(&buffer);
    for (const std::string& piece : c.pieces) {
      stream << piece << std::flush;
    }
    EXPECT_EQ(written, c.written) << c.what;
    EXPECT_EQ(call, c.takes.size()) << c.what;
    EXPECT_TRUE(stream.good()) << c.what;
  }
}

}  // namespace
}  // namespace status_bridge
