#include "protocol/extract_json_string.h"

#include <gtest/gtest.h>

#include <string>

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

struct Case {
  const char* what;
  std::string line;
  const char* key;
  std::string value;
};

TEST(ExtractJsonStringTest, FindsAndDecodesValues) {
  const Case cases[] = {
      {"simple", R"({"op":"is_verified"})", "op", "is_verified"},
      {"any key order", R"({"b":"2","a":"1"})", "a", "1"},
      {"blanks around colon", R"({"lmc_file" : "a.lmc"})", "lmc_file", "a.lmc"},
      {"junk before quote", R"({"lmc_file":x"a.lmc"})", "lmc_file", "a.lmc"},
      {"escaped quote", R"({"k":"a\"b"})", "k", "a\"b"},
      {"every escape", R"({"k":"\"\\\/\b\f\n\r\t"})", "k", "\"\\/\b\f\n\r\t"},
      {"raw bytes kept", "{\"k\":\"\t\x01\xe7\xa9\xba\xff\"}", "k",
       "\t\x01\xe7\xa9\xba\xff"},
      {"NUL kept", "{\"k\":\"a\0b\"}"s, "k", "a\0b"s},
      {"backslash pair then quote", R"({"k":"a\\"})", "k", "a\\"},
      {"three backslashes then quote", R"({"k":"\\\"b"})", "k", "\\\"b"},
      {"first of repeated keys", R"({"k":"1","k":"2"})", "k", "1"},
      {"line without braces", R"("k":"v")", "k", "v"},
      {"array at the outermost level", R"(["x","k":"v"])", "k", "v"},
      {"blanks before the name", "{ \t\"x\":\"1\" ,\r\n \"k\":\"v\"}", "k",
       "v"},
      // Only member names count: the key as a value, inside another string,
      // in a nested object or array, or after a string is passed over.
      {"key as an earlier value",
       R"({"request_id":"block_name","lmc_file":"a.lmc","block_name":"U1"})",
       "block_name", "U1"},
      {"key inside a value", R"({"x":"a,\"k\":\"no","k":"v"})", "k", "v"},
      {"key in a nested object", R"({"x":{"k":"inner"},"k":"outer"})", "k",
       "outer"},
      {"key in a nested array", R"({"x":[{"k":"inner"}],"k":"outer"})", "k",
       "outer"},
      {"key after a closed nested object", R"({"x":{"y":"1"},"k":"v"})", "k",
       "v"},
      {"key after a string, no comma", R"({"x":"1" "k":"no","k":"v"})", "k",
       "v"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractJsonString(c.line, c.key), c.value) << c.what;
  }
}

TEST(ExtractJsonStringTest, YieldsEmptyWhenNoValueCanBeRead) {
  const Case cases[] = {
      {"empty line", "", "op", ""},
      {"absent key", R"({"a":"1"})", "op", ""},
      {"empty value", R"({"op":""})", "op", ""},
      {"key inside longer key", R"({"block_name":"U1"})", "name", ""},
      {"other letter case", R"({"OP":"is_verified"})", "op", ""},
      {"unquoted key", R"({op:"is_verified"})", "op", ""},
      {"no colon", R"({"op" "x"})", "op", ""},
      {"colon last", R"({"op":)", "op", ""},
      {"key last", R"({"op")", "op", ""},
      {"no quote after colon", R"({"block_type":3})", "block_type", ""},
      // A value that is no string reads as empty, not as the next string.
      {"number value", R"({"block_type":3,"request_id":"r1"})", "block_type",
       ""},
      {"literal value", R"({"k":true,"x":"1"})", "k", ""},
      {"object value", R"({"k":{"x":"1"}})", "k", ""},
      {"array value", R"({"k":["1"]})", "k", ""},
      {"empty object value", R"({"k":{},"x":"1"})", "k", ""},
      {"value last", R"({"x":"1","k":3})", "k", ""},
      {"only nested", R"({"x":{"k":"inner"}})", "k", ""},
      {"only as value", R"({"x":"k","y":"1"})", "k", ""},
      {"first in an array", R"(["k":"v"])", "k", ""},
      {"object inside an array", R"(["x",{"k":"v"}])", "k", ""},
      {"unterminated", R"({"op":"is_ver)", "op", ""},
      {"unterminated name ending in a backslash", R"({"a":"1","b\)", "op", ""},
      {"unicode escape", R"({"k":"caf\u00e9"})", "k", ""},
      {"unknown escape", R"({"k":"a\x"})", "k", ""},
      {"bell escape", R"({"k":"\a"})", "k", ""},
      {"backslash last", R"({"k":"a\)", "k", ""},
      // No retry at a later occurrence once the first one fails.
      {"first unreadable", R"({"k":"\u0041","k":"ok"})", "k", ""},
      {"pattern longer than line", R"("k")", "longer_key", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractJsonString(c.line, c.key), c.value) << c.what;
  }
}

TEST(ExtractJsonStringTest, LongValueWithEscapesFarApart) {
  std::string a(5000, 'a');
  std::string b(7000, 'b');
  std::string line = R"({"k":")" + a + R"(\"x\\)" + b + R"(\n"})";
  EXPECT_EQ(ExtractJsonString(line, "k"), a + "\"x\\" + b + "\n");
  // An escaped quote does not end the value; with no other, it never ends.
  EXPECT_EQ(ExtractJsonString(R"({"k":")" + a + R"(\")" + b, "k"), "");
}

TEST(ExtractJsonStringTest, EscapesAndQuotesAtEveryShortDistance) {
  // Short and long distances between the bytes the reader looks for are
  // searched in different ways; every distance up to 40 reads the same.
  for (size_t n = 0; n <= 40; ++n) {
    std::string a(n, 'a');
    std::string gap(n, ' ');
    std::string line =
        R"({"k")" + gap + ":" + gap + R"(")" + a + R"(\"\\)" + a + R"(\n")" + a;
    EXPECT_EQ(ExtractJsonString(line, "k"), a + "\"\\" + a + "\n") << n;
    EXPECT_EQ(ExtractJsonString(line.substr(0, line.rfind('"')), "k"), "") << n;
  }
}

TEST(ExtractJsonStringTest, EachCallSearchesTheWholeLine) {
  std::string line =
      R"({"request_id":"r","lmc_file":"\q","block_name":"U1","op":"is_verified"})";
  EXPECT_EQ(ExtractJsonString(line, "lmc_file"), "");
  EXPECT_EQ(ExtractJsonString(line, "op"), "is_verified");
  EXPECT_EQ(ExtractJsonString(line, "request_id"), "r");
}

// One walk reads several keys as separate calls read each, however they
// repeat, nest or stand as each other's values; stale values are replaced.
TEST(ExtractJsonStringsTest, OneWalkReadsWhatEachKeyReadsAlone) {
  const char* keys[] = {"op", "request_id", "block_name", "k", "", "absent"};
  const std::string lines[] = {
      R"({"op":"is_verified","request_id":"block_name","block_name":"U1"})",
      R"({"k":{"op":"inner","k":"x"},"op":"outer","":"e","request_id":3})",
      R"({"block_name":"\u0041","block_name":"late","k":"1","k":"2"})",
      "",
  };
  constexpr size_t kCount = sizeof(keys) / sizeof(keys[0]);
  for (const std::string& line : lines) {
    std::string values[kCount];
    JsonStringField fields[kCount];
    for (size_t i = 0; i < kCount; ++i) {
      values[i] = "stale value from an earlier line";
      fields[i] = JsonStringField{keys[i], &values[i]};
    }
    ExtractJsonStrings(line, fields, kCount);
    for (size_t i = 0; i < kCount; ++i) {
      EXPECT_EQ(values[i], ExtractJsonString(line, keys[i]))
          << "line: " << line << " key: " << keys[i];
    }
  }
}

}  // namespace
}  // namespace status_bridge
