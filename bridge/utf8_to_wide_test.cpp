#include "bridge/utf8_to_wide.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

// The wide string of `code_points`, in UTF-16 where wchar_t has 16 bits.
std::wstring Wide(const std::vector<char32_t>& code_points) {
  std::wstring wide;
  for (char32_t c : code_points) {
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(c));
    }
  }
  return wide;
}

// `wide` with each run of U+FFFD written as one.
[[maybe_unused]] std::wstring WithReplacementRunsAsOne(
    const std::wstring& wide) {
  std::wstring out;
  for (wchar_t c : wide) {
    if (c != 0xFFFD || out.empty() || out.back() != 0xFFFD) {
      out.push_back(c);
    }
  }
  return out;
}

TEST(Utf8ToWideTest, ConvertsAndReplacesMalformedSequences) {
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<char32_t> code_points;
  } cases[] = {
      {"empty", "", {}},
      {"ascii path",
       "C:\\x\\LMCDLL70.dll",
       {'C', ':', '\\', 'x', '\\', 'L', 'M', 'C', 'D', 'L', 'L', '7', '0', '.',
        'd', 'l', 'l'}},
      {"two, three and four bytes",
       "\xc3\xa9\xe5\xb7\xa5\xf0\x9f\x98\x80",
       {0xE9, 0x5DE5, 0x1F600}},
      {"NUL is a character", "a\0b"s, {'a', 0, 'b'}},
      {"lone continuation byte", "a\x80z", {'a', 0xFFFD, 'z'}},
      {"invalid lead bytes",
       "\xc0\xc1\xf5\xff",
       {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
      {"truncated sequence", "\xe5\xb7z", {0xFFFD, 'z'}},
      {"truncated at end", "a\xf0\x9f\x98", {'a', 0xFFFD}},
      {"overlong", "\xe0\x80\xaf", {0xFFFD, 0xFFFD, 0xFFFD}},
      {"surrogate", "\xed\xa0\x80", {0xFFFD, 0xFFFD, 0xFFFD}},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
      {"highest", "\xf4\x8f\xbf\xbf", {0x10FFFF}},
  };
  for (const Case& c : cases) {
    std::wstring actual = Utf8ToWide(c.bytes);
    std::wstring expected = Wide(c.code_points);
#if defined(_WIN32)
    // MultiByteToWideChar decides how many U+FFFD stand for one malformed
    // sequence (Wine's gives fewer for an overlong form, a surrogate or a
    // value beyond U+10FFFF): compare with each run of them taken as one.
    actual = WithReplacementRunsAsOne(actual);
    expected = WithReplacementRunsAsOne(expected);
#endif
    EXPECT_EQ(actual, expected) << c.what;
  }
}

}  // namespace
}  // namespace status_bridge
