#include "protocol/escape_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

TEST(EscapeJsonTest, EscapesExactlyLfCrQuoteAndBackslash) {
  struct Case {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"", ""},
      {"plain U1/a.lmc", "plain U1/a.lmc"},
      {"\r\n", "\\r\\n"},
      {"a\"b", "a\\\"b"},
      {"C:\\x\\LMCDLL70.dll", "C:\\\\x\\\\LMCDLL70.dll"},
      {"\\\"", "\\\\\\\""},
      // Other control bytes, DEL, NUL and non-ASCII bytes pass unchanged.
      {"\t\b\f\x01\x1f\x7f", "\t\b\f\x01\x1f\x7f"},
      {"a\0b"s, "a\0b"s},
      {"空请求", "空请求"},
      {"\xff\xc3(", "\xff\xc3("},
      {"\n\n", "\\n\\n"},
      {"end\\", "end\\\\"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeJson(c.text), c.escaped) << "input: " << c.text;
  }
}

TEST(EscapeJsonTest, NoByteValueBreaksTheLine) {
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte) {
    every_byte.push_back(static_cast<char>(byte));
  }
  std::string escaped = EscapeJson(every_byte);
  EXPECT_EQ(escaped.find('\n'), std::string::npos);
  EXPECT_EQ(escaped.find('\r'), std::string::npos);
  // Four bytes gain a backslash each; nothing else grows.
  EXPECT_EQ(escaped.size(), every_byte.size() + 4);
}

TEST(EscapeJsonTest, PiecesAreKeptRunsAndEscapesNeverEmpty) {
  using Pieces = std::vector<std::string>;
  struct Case {
    std::string text;
    Pieces pieces;
  } cases[] = {
      {"", {}},
      {"abc", {"abc"}},
      {"\n", {"\\n"}},
      {"ab\ncd\"", {"ab", "\\n", "cd", "\\\""}},
      {"\r\\x", {"\\r", "\\\\", "x"}},
  };
  for (const Case& c : cases) {
    Pieces pieces;
    ForEachEscapedPiece(c.text, [&pieces](const char* data, size_t size) {
      pieces.emplace_back(data, size);
    });
    EXPECT_EQ(pieces, c.pieces) << "input: " << c.text;
  }
}

}  // namespace
}  // namespace status_bridge
