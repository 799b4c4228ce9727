#include "standin/status_library/lmc_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace standin {
namespace {

Outcome Find(const std::string& rules, const char* block_name) {
  return FindRule(rules.data(), rules.size(), block_name).outcome;
}

TEST(LmcRulesTest, FirstMatchingRuleDecides) {
  const std::string rules =
      "# stand-in rules\n"
      "verified U1\r\n"
      "not-verified U2\n"
      "\n"
      "throw-class U3\n"
      "throw-int U4\n"
      "crash U5\n"
      "verified-2 U6\n"
      "print-stdio P1\n"
      "print-handle P2\n"
      "verified two words\n"
      "bogus U7\n"
      "verified U1x\n"
      "not-verified U1x\n";
  struct Case {
    const char* block_name;
    Outcome outcome;
  } cases[] = {
      {"U1", Outcome::kVerified},        {"U2", Outcome::kNotVerified},
      {"U3", Outcome::kThrowClass},      {"U4", Outcome::kThrowInt},
      {"U5", Outcome::kCrash},           {"U6", Outcome::kVerifiedTwo},
      {"two words", Outcome::kVerified}, {"U7", Outcome::kNotVerified},
      {"U1x", Outcome::kVerified},       {"u1", Outcome::kNotVerified},
      {"", Outcome::kNotVerified},       {"# stand-in", Outcome::kNotVerified},
      {"P1", Outcome::kPrintStdio},      {"P2", Outcome::kPrintHandle},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(rules, c.block_name), c.outcome) << c.block_name;
  }
}

TEST(LmcRulesTest, RulesThatTakeTime) {
  // A malformed word is skipped, so the rule after it decides.
  struct Case {
    const char* word;
    Outcome outcome;
    uint32_t milliseconds;
  } cases[] = {
      {"sleep-5", Outcome::kSleep, 5},
      {"sleep-0", Outcome::kSleep, 0},
      {"sleep-86400000", Outcome::kSleep, kMaxSleepMilliseconds},
      {"sleep-86400001", Outcome::kVerifiedTwo, 0},
      {"sleep-99999999999", Outcome::kVerifiedTwo, 0},
      {"sleep-", Outcome::kVerifiedTwo, 0},
      {"sleep-1x", Outcome::kVerifiedTwo, 0},
      {"sleep--1", Outcome::kVerifiedTwo, 0},
      {"sleep", Outcome::kVerifiedTwo, 0},
      {"hang", Outcome::kHang, 0},
  };
  for (const Case& c : cases) {
    const std::string rules = std::string(c.word) + " B\nverified-2 *\n";
    Rule rule = FindRule(rules.data(), rules.size(), "B");
    EXPECT_EQ(rule.outcome, c.outcome) << c.word;
    EXPECT_EQ(rule.milliseconds, c.milliseconds) << c.word;
  }
}

TEST(LmcRulesTest, WildcardAndEmptyRules) {
  EXPECT_EQ(Find("not-verified U1\nverified *\n", "U1"), Outcome::kNotVerified);
  EXPECT_EQ(Find("not-verified U1\nverified *\n", "any"), Outcome::kVerified);
  EXPECT_EQ(Find("", "U1"), Outcome::kNotVerified);
  EXPECT_EQ(Find("verified U1", "U1"), Outcome::kVerified);  // No final LF.
  EXPECT_EQ(Find("verified\n", "verified"), Outcome::kNotVerified);
}

void Append(const char* bytes, size_t length, void* context) {
  static_cast<std::string*>(context)->append(bytes, length);
}

TEST(LmcRulesTest, CallRecordIsOneUnambiguousLine) {
  struct Case {
    const char* block_name;
    int32_t block_type;
    const char* lmc_file;
    std::string record;
  } cases[] = {
      {"U1", 1, "D:\\lib\\a.lmc", "name=U1 type=1 lmc=D:\\lib\\a.lmc\n"},
      {"a b%\n\xe7", -3, "", "name=a%20b%25%0A%E7 type=-3 lmc=\n"},
      {"x", INT_MIN, "y", "name=x type=-2147483648 lmc=y\n"},
      {"x", INT_MAX, "y", "name=x type=2147483647 lmc=y\n"},
  };
  for (const Case& c : cases) {
    std::string record;
    EmitCallRecord(c.block_name, c.block_type, c.lmc_file, Append, &record);
    EXPECT_EQ(record, c.record);
  }
}

}  // namespace
}  // namespace standin
