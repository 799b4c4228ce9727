#include "driver/line_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

std::vector<std::string> ReadAll(const std::string& input) {
  std::istringstream in(input);
  std::vector<std::string> lines;
  std::string line = "stale";
  while (ReadLine(in, &line)) {
    lines.push_back(line);
  }
  return lines;
}

TEST(ReadLineTest, SplitsAtLf) {
  using Lines = std::vector<std::string>;
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
  for (const Case& c : cases) {
    EXPECT_EQ(ReadAll(c.input), c.lines) << "input: " << c.input;
  }
}

TEST(ReadLineTest, CrBeforeLfReadsAsTheStreamsOfWindowsGiveIt) {
  if (!kLineReaderDropsCrBeforeLf) {
    GTEST_SKIP() << "the C runtime's text mode drops the CR itself";
  }
  using Lines = std::vector<std::string>;
  EXPECT_EQ(ReadAll("a\r\n"), Lines{"a"});
  EXPECT_EQ(ReadAll("\r\n"), Lines{""});
  EXPECT_EQ(ReadAll("a\r\r\n"), Lines{"a\r"});
  EXPECT_EQ(ReadAll("\r\r\n\r"), (Lines{"\r", "\r"}));
}

}  // namespace
}  // namespace status_bridge
