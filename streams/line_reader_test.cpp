#include "streams/line_reader.h"

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

}  // namespace
}  // namespace status_bridge
