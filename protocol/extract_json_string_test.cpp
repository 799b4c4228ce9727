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
      // A value that is no string yields the next quoted text after the colon.
      {"number value", R"({"block_type":3,"request_id":"r1"})", "block_type",
       "request_id"},
      // The first quoted occurrence counts, whatever its role.
      {"key as earlier value",
       R"({"request_id":"block_name","lmc_file":"a.lmc","block_name":"U1"})",
       "block_name", "a.lmc"},
      {"nested key first", R"({"x":{"k":"inner"},"k":"outer"})", "k", "inner"},
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
      {"unterminated", R"({"op":"is_ver)", "op", ""},
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

// The reading rules written out as plainly as possible, for comparison: each
// key is looked for afresh from the line's first byte, and the value is
// decoded one byte at a time.
std::string NaiveExtract(const std::string& line, const std::string& key) {
  size_t pos = line.find('"' + key + '"');
  if (pos == std::string::npos) {
    return "";
  }
  pos = line.find(':', pos + key.size() + 2);
  if (pos == std::string::npos) {
    return "";
  }
  pos = line.find('"', pos + 1);
  if (pos == std::string::npos) {
    return "";
  }
  const std::string escapes = "\"\\/bfnrt";
  const std::string decoded = "\"\\/\b\f\n\r\t";
  std::string value;
  for (++pos; pos < line.size(); ++pos) {
    if (line[pos] == '"') {
      return value;
    }
    if (line[pos] != '\\') {
      value += line[pos];
      continue;
    }
    if (++pos == line.size() || escapes.find(line[pos]) == std::string::npos) {
      return "";
    }
    value += decoded[escapes.find(line[pos])];
  }
  return "";
}

TEST(ExtractJsonStringsTest, OneWalkReadsWhatASearchPerKeyReads) {
  // Keys that share first bytes, one that is part of another, an empty one,
  // repeated keys, keys that also stand as values, and more keys than one
  // walk over the line takes.
  const char* keys[] = {"op", "block_name", "block_type", "block",
                        "k",  "",           "lmc_file",   "request_id",
                        "x",  "name",       "kk"};
  const std::string lines[] = {
      R"({"op":"is_verified","request_id":"42","lmc_file":"D:\\a.lmc","block_name":"U1","block_type":"RUL"})",
      R"({"block_type":"x","block_name":"y\"z","op":"k","":"empty","kk":"1"})",
      R"({"k":"\u0041","k":"ok","x":"\n"})",
      R"({"op":"first","x":"1","op":"second","x":"2","kk":"3","kk":"4"})",
      R"({"request_id":"r","block_name":"U1","request_id":"late","block_name":"U2"})",
      R"("block":"b" "name":"n")",
      R"({"request_id":"block_name","block_name":"late")",
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
      EXPECT_EQ(values[i], NaiveExtract(line, keys[i]))
          << "line: " << line << " key: " << keys[i];
    }
  }
}

}  // namespace
}  // namespace status_bridge
