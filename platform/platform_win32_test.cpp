#include <gtest/gtest.h>
#include <stdlib.h>

#include <exception>
#include <string>

#include "platform/platform.h"

namespace status_bridge {
namespace {

constexpr wchar_t kWideName[] = L"STATUS_BRIDGE_TEST_PATH";
constexpr char kName[] = "STATUS_BRIDGE_TEST_PATH";

TEST(ReadPathVariableTest, GivesTheWideValueAsUtf8) {
  struct Case {
    const wchar_t* value;  // Null: unset.
    std::string bytes;
  } cases[] = {
      {L"C:\\x\\LMCDLL70.dll", "C:\\x\\LMCDLL70.dll"},
      // D:\工具\ (U+5DE5 U+5177): no ANSI code page of a Western system holds
      // these characters, and GBK would give other bytes than UTF-8.
      {L"D:\\\x5DE5\x5177\\", "D:\\\xE5\xB7\xA5\xE5\x85\xB7\\"},
      {L"\xE9\xD83D\xDE00", "\xC3\xA9\xF0\x9F\x98\x80"},
      // A lone surrogate is no character; it becomes U+FFFD, so the result
      // is always valid UTF-8.
      {L"a\xD800z", "a\xEF\xBF\xBDz"},
      {L" ", " "},
      {nullptr, ""},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(_wputenv_s(kWideName, c.value != nullptr ? c.value : L""), 0);
    EXPECT_EQ(ReadPathVariable(kName), c.bytes);
  }
}

// An exception that nobody catches (exhausted memory) reaches std::terminate,
// which must end the process with a status that no exit code of the bridge
// can be taken for: not abort()'s 3, which reads as a missing export.
TEST(EndProcessAbnormallyDeathTest, TerminateEndsWithNoMemory) {
  EXPECT_EXIT(
      {
        PrepareProcess();
        std::terminate();
      },
      ::testing::ExitedWithCode(static_cast<int>(0xC0000017u)), "");
}

}  // namespace
}  // namespace status_bridge
