#include "protocol/status_request.h"

#include <gtest/gtest.h>

#include <string>

namespace status_bridge {
namespace {

TEST(ParseStatusRequestTest, ValidityOfLines) {
  struct Case {
    const char* what;
    std::string line;
    bool valid;
  } cases[] = {
      {"complete",
       R"({"op":"is_verified","request_id":"42","lmc_file":"a.lmc","block_name":"U1","block_type":"RUL"})",
       true},
      {"no block type",
       R"({"op":"is_verified","request_id":"42","lmc_file":"a.lmc","block_name":"U1"})",
       true},
      {"blank values count",
       R"({"op":"is_verified","request_id":" ","lmc_file":" ","block_name":" "})",
       true},
      {"op upper case",
       R"({"op":"IS_VERIFIED","request_id":"1","lmc_file":"a","block_name":"b"})",
       false},
      {"op trailing blank",
       R"({"op":"is_verified ","request_id":"1","lmc_file":"a","block_name":"b"})",
       false},
      {"op empty",
       R"({"op":"","request_id":"1","lmc_file":"a","block_name":"b"})", false},
      {"op missing", R"({"request_id":"1","lmc_file":"a","block_name":"b"})",
       false},
      {"request_id empty",
       R"({"op":"is_verified","request_id":"","lmc_file":"a","block_name":"b"})",
       false},
      {"lmc_file missing",
       R"({"op":"is_verified","request_id":"1","block_name":"b"})", false},
      {"block_name unreadable",
       R"({"op":"is_verified","request_id":"1","lmc_file":"a","block_name":"\u0041"})",
       false},
      {"request_id a number",
       R"({"op":"is_verified","request_id":1,"lmc_file":"a","block_name":"b"})",
       false},
      {"block_name only nested",
       R"({"op":"is_verified","request_id":"1","lmc_file":"a","meta":{"block_name":"b"}})",
       false},
      {"plain text", "is_verified 1 a b", false},
      {"empty line", "", false},
  };
  for (const Case& c : cases) {
    StatusRequest request;
    EXPECT_EQ(ParseStatusRequest(c.line, &request), c.valid) << c.what;
  }
}

TEST(ParseStatusRequestTest, ReadsFieldsAndOverwritesEveryOne) {
  StatusRequest request;
  ASSERT_TRUE(ParseStatusRequest(
      R"({"block_type":"7","block_name":"U1","lmc_file":"a.lmc","request_id":"42","op":"is_verified"})",
      &request));
  EXPECT_EQ(request.request_id, "42");
  EXPECT_EQ(request.lmc_file, "a.lmc");
  EXPECT_EQ(request.block_name, "U1");
  EXPECT_EQ(request.block_type, "7");

  // Keys as values and in nested objects are no keys; a number is no string.
  ASSERT_TRUE(ParseStatusRequest(
      R"({"op":"is_verified","request_id":"block_name","meta":{"block_name":"X"},"lmc_file":"a.lmc","block_name":"U1","block_type":3})",
      &request));
  EXPECT_EQ(request.request_id, "block_name");
  EXPECT_EQ(request.block_name, "U1");
  EXPECT_EQ(request.block_type, "");

  EXPECT_FALSE(ParseStatusRequest(R"({"lmc_file":"b.lmc"})", &request));
  EXPECT_EQ(request.request_id, "");
  EXPECT_EQ(request.lmc_file, "b.lmc");
  EXPECT_EQ(request.block_name, "");
  EXPECT_EQ(request.block_type, "");
}

}  // namespace
}  // namespace status_bridge
