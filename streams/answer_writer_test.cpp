#include "streams/answer_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace status_bridge {
namespace {

constexpr size_t kAll = ~size_t{0};

// What the fake write below has taken, and how much it takes at each call.
struct Channel {
  std::string written;
  std::vector<size_t> takes;  // One per call; fewer than asked is a failure.
  size_t call = 0;
} channel;

size_t FakeWrite(int /*descriptor*/, const char* data, size_t size) {
  size_t take = channel.call < channel.takes.size()
                    ? std::min(size, channel.takes[channel.call])
                    : size;
  ++channel.call;
  channel.written.append(data, take);
  return take;
}

// Lines written one after another through writes that take, one call after
// another, at most the given numbers of bytes.
TEST(WriteAnswerLineTest, AFailedWriteNeverCutsOrGluesAnAnswer) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    std::vector<size_t> takes;
    std::string written;
  } cases[] = {
      {"every write whole", {"a\n", "bc\n"}, {kAll, kAll}, "a\nbc\n"},
      {"a line that fails at once is dropped",
       {"a\n", "b\n"},
       {0, kAll},
       "b\n"},
      {"a line cut halfway is finished before the next",
       {"abc\n", "d\n"},
       {2, kAll, kAll},
       "abc\nd\n"},
      {"the rest fails again: the next line waits its turn, dropped",
       {"abc\n", "d\n", "e\n"},
       {1, 1, kAll, kAll},
       "abc\ne\n"},
      {"the rest is written, the next line fails at once",
       {"abc\n", "d\n", "e\n"},
       {1, kAll, 0, kAll},
       "abc\ne\n"},
  };
  for (const Case& c : cases) {
    channel = Channel{"", c.takes, 0};
    AnswerWriter out;
    out.write = FakeWrite;
    for (const std::string& line : c.lines) {
      out.line = line;
      WriteAnswerLine(&out);
    }
    EXPECT_EQ(channel.written, c.written) << c.what;
  }
}

}  // namespace
}  // namespace status_bridge
