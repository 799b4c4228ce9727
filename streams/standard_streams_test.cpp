#include "streams/standard_streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

using Lines = std::vector<std::string>;

// The source of ReadAll's reads: at most `chunk` bytes a read, as a pipe may
// hand them out.
struct Source {
  std::string input;
  size_t chunk = 0;
  size_t offset = 0;
} source;

size_t ReadSource(char* buffer, size_t capacity) {
  size_t count =
      std::min({source.chunk, capacity, source.input.size() - source.offset});
  std::copy_n(source.input.data() + source.offset, count, buffer);
  source.offset += count;
  return count;
}

// The lines of `input`, read `chunk` bytes at a time.
Lines ReadAll(const std::string& input, size_t chunk) {
  source = Source{input, chunk, 0};
  auto reader = std::make_unique<LineInput>();
  reader->read = ReadSource;
  Lines lines;
  std::string line = "stale";
  while (ReadRequestLine(reader.get(), &line)) {
    lines.push_back(line);
  }
  return lines;
}

constexpr size_t kChunks[] = {1, 2, 3, size_t{1} << 20};

TEST(ReadLineTest, SplitsAtLf) {
  struct Case {
    std::string input;
    Lines lines;
  } cases[] = {
      {"", {}},
      {"\n", {""}},
      {"\n\n", {"", ""}},
      {"a\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"  \n", {"  "}},
      {"a\0b\n"s, {"a\0b"s}},
      {"a\rb\n", {"a\rb"}},
      {"\r", {"\r"}},  // No LF follows, so the CR stays.
      {"a\r", {"a\r"}},
  };
  for (size_t chunk : kChunks) {
    for (const Case& c : cases) {
      EXPECT_EQ(ReadAll(c.input, chunk), c.lines)
          << "input: " << c.input << ", chunk: " << chunk;
    }
  }
}

TEST(ReadLineTest, LinesLongerThanTheBufferArriveWhole) {
  const size_t buffer = sizeof(LineInput::buffer);
  std::string exact(buffer, 'x');
  std::string longer(3 * buffer + 7, 'y');
  longer[buffer - 1] = '\0';
  longer[2 * buffer] = '\r';
  for (size_t chunk : {size_t{4093}, buffer, size_t{1} << 20}) {
    EXPECT_EQ(ReadAll(exact + "\n" + longer + "\nz", chunk),
              (Lines{exact, longer, "z"}))
        << "chunk: " << chunk;
    EXPECT_EQ(ReadAll(longer, chunk), Lines{longer}) << "chunk: " << chunk;
  }
}

TEST(ReadLineTest, CrBeforeLfReadsAsTheStreamsOfWindowsGiveIt) {
  if (!kLineReaderDropsCrBeforeLf) {
    GTEST_SKIP() << "the C runtime's text mode drops the CR itself";
  }
  // The CR of the long line is the last byte of the first buffer's worth.
  std::string long_line(sizeof(LineInput::buffer) - 1, 'x');
  for (size_t chunk : kChunks) {
    EXPECT_EQ(ReadAll("a\r\n", chunk), Lines{"a"});
    EXPECT_EQ(ReadAll("\r\n", chunk), Lines{""});
    EXPECT_EQ(ReadAll("a\r\r\n", chunk), Lines{"a\r"});
    EXPECT_EQ(ReadAll("\r\r\n\r", chunk), (Lines{"\r", "\r"}));
    EXPECT_EQ(ReadAll(long_line + "\r\nb", chunk), (Lines{long_line, "b"}));
  }
}

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
