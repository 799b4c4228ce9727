#include "status_library/status_query.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

#include "protocol/messages.h"

namespace status_bridge {
namespace {

using std::string_literals::operator""s;

TEST(MapBlockTypeTest, WordsAndNumbers) {
  struct Case {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"RULP", 0},
      {"LP", 0},
      {"", 0},
      {"RUL", 1},
      {"rul", 0},
      {"Rul", 0},
      {"RUL ", 0},
      {" RUL", 0},
      {"2", 2},
      {"-3", -3},
      {"+4", 4},
      {" 7", 7},
      {"\t\n8", 8},
      {"12abc", 12},
      {"abc", 0},
      {"-", 0},
      {"2147483647", INT_MAX},
      {"2147483648", 0},
      {"-2147483648", INT_MIN},
      {"-2147483649", 0},
      {"99999999999999999999", 0},
      {"0x10", 0},
      {"010", 10},
      {"5\0"
       "9"s,
       5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MapBlockType(c.text), c.value) << "text: " << c.text;
  }
}

// What the fake export below received, and what it does next.
struct FakeCall {
  int calls = 0;
  std::string block_name;
  std::int32_t block_type = -1;
  std::string lmc_file;
  std::uint8_t result = 1;
  enum class Throw { kNothing, kClass, kInt } throws = Throw::kNothing;
};
FakeCall fake;

std::uint8_t FakeExport(StandInCString block_name, std::int32_t block_type,
                        const StandInCString* lmc_file) {
  ++fake.calls;
  fake.block_name = block_name.text;
  fake.block_type = block_type;
  fake.lmc_file = lmc_file->text;
  StandInCStringDestroy(&block_name);
  switch (fake.throws) {
    case FakeCall::Throw::kClass:
      throw std::runtime_error("vendor failure");
    case FakeCall::Throw::kInt:
      throw 7;
    case FakeCall::Throw::kNothing:
      break;
  }
  return fake.result;
}

class AnswerStatusRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = FakeCall(); }
};

const StatusRequest kExampleRequest = {"42", "D:\\lib\\a.lmc", "U1", "RUL"};

TEST_F(AnswerStatusRequestTest, AnswersWithTheExportsResult) {
  struct Case {
    std::uint8_t result;
    const char* status;
    const char* raw_status;
  } cases[] = {{1, "READY", "1"},
               {0, "PENDING", "0"},
               {2, "READY", "1"},
               {0x80, "READY", "1"}};
  for (const Case& c : cases) {
    fake.result = c.result;
    std::string answer;
    AnswerStatusRequest(kExampleRequest, FakeExport, &answer);
    EXPECT_EQ(answer,
              std::string(R"({"ok":true,"request_id":"42","block_name":"U1",)"
                          R"("lmc_file":"D:\\lib\\a.lmc","status":")") +
                  c.status +
                  R"(","source":"IsVerifiedReuseBlock","raw_status":)" +
                  c.raw_status + "}\n");
  }
  EXPECT_EQ(fake.block_name, "U1");
  EXPECT_EQ(fake.block_type, 1);
  EXPECT_EQ(fake.lmc_file, "D:\\lib\\a.lmc");
}

TEST_F(AnswerStatusRequestTest, ExportSeesBytesBeforeNulWhileAnswerEchoesAll) {
  std::string answer;
  AnswerStatusRequest({"1", "a\0b"s, "U\0V"s, "9"}, FakeExport, &answer);
  EXPECT_EQ(fake.block_name, "U");
  EXPECT_EQ(fake.lmc_file, "a");
  EXPECT_EQ(fake.block_type, 9);
  EXPECT_NE(answer.find("\"block_name\":\"U\0V\",\"lmc_file\":\"a\0b\""s),
            std::string::npos);
}

TEST_F(AnswerStatusRequestTest, AnyExceptionGivesOneErrorLine) {
  for (FakeCall::Throw kind :
       {FakeCall::Throw::kClass, FakeCall::Throw::kInt}) {
    fake.throws = kind;
    std::string answer = "stale";
    AnswerStatusRequest(kExampleRequest, FakeExport, &answer);
    EXPECT_EQ(answer, std::string("{\"ok\":false,\"error\":\"") +
                          kStatusCallExceptionMessage + "\"}\n");
  }
  EXPECT_EQ(fake.calls, 2);
}

}  // namespace
}  // namespace status_bridge
