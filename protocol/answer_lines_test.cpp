#include "protocol/answer_lines.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/messages.h"

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

TEST(AnswerLinesTest, SuccessLineForBothResults) {
  struct Case {
    bool verified;
    std::string line;
  } cases[] = {
      {true,
       R"({"ok":true,"request_id":"42","block_name":"U1","lmc_file":"D:\\lib\\a.lmc","status":"READY","source":"IsVerifiedReuseBlock","raw_status":1})"
       "\n"},
      {false,
       R"({"ok":true,"request_id":"42","block_name":"U1","lmc_file":"D:\\lib\\a.lmc","status":"PENDING","source":"IsVerifiedReuseBlock","raw_status":0})"
       "\n"},
  };
  for (const Case& c : cases) {
    std::string line = "stale";
    ComposeSuccessLine({"42", "D:\\lib\\a.lmc", "U1", "RUL"}, c.verified,
                       &line);
    EXPECT_EQ(line, c.line);
  }
}

TEST(AnswerLinesTest, VariablePiecesAreEscapedAndKeepNul) {
  std::string line;
  ComposeSuccessLine({"r\n1", "x\r", "a\0\"b"s, ""}, true, &line);
  EXPECT_EQ(line,
            "{\"ok\":true,\"request_id\":\"r\\n1\",\"block_name\":\"a\0\\\"b\","
            "\"lmc_file\":\"x\\r\",\"status\":\"READY\",\"source\":"
            "\"IsVerifiedReuseBlock\",\"raw_status\":1}\n"s);
}

TEST(AnswerLinesTest, ErrorLines) {
  struct Case {
    std::string message;
    std::string line;
  } cases[] = {
      {kEmptyRequestMessage, "{\"ok\":false,\"error\":\"空请求\"}\n"},
      {kLoadFailedMessage + std::string("C:\\x\\LMCDLL70.dll"),
       "{\"ok\":false,\"error\":\"无法加载 LMCDLL70.dll: "
       "C:\\\\x\\\\LMCDLL70.dll\"}\n"},
      {"", "{\"ok\":false,\"error\":\"\"}\n"},
      // Exactly LF, CR, quote and backslash are escaped; every other byte,
      // control bytes, DEL, NUL and bytes that are no UTF-8 included, stays.
      {"\r\n\"\\end\\", R"({"ok":false,"error":"\r\n\"\\end\\"})"
                        "\n"},
      {"\t\b\f\x01\x1f\x7f\xff\xc3(a\0b"s,
       "{\"ok\":false,\"error\":\"\t\b\f\x01\x1f\x7f\xff\xc3(a\0b\"}\n"s},
  };
  for (const Case& c : cases) {
    std::string line = "stale";
    ComposeErrorLine(c.message, &line);
    EXPECT_EQ(line, c.line);
  }
}

TEST(AnswerLinesTest, EchoLineHasLmcFileBeforeBlockName) {
  std::string line;
  ComposeEchoLine({"42", "D:\\lib\\a.lmc", "U\t1", ""}, &line);
  EXPECT_EQ(line,
            "{\"request_id\":\"42\",\"lmc_file\":\"D:\\\\lib\\\\a.lmc\","
            "\"block_name\":\"U\t1\"}\n");
}

TEST(AnswerLinesTest, ProbeLineIsFixed) {
  std::string line;
  ComposeProbeLine(&line);
  std::string expected =
      "{\"ok\":true,\"probe\":true,\"export_found\":true,\"source\":"
      "\"IsVerifiedReuseBlock\"}\n";
  EXPECT_EQ(line, expected);
}

}  // namespace
}  // namespace status_bridge
