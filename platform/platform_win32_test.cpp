#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
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

// The bridge reads the paths its parent process passed in its environment
// block; a value set with _wputenv_s, as above, is also in the C runtime's own
// copy, so the test above cannot tell the process's environment from the
// runtime's. Here the value comes from the parent: gtest runs the statement of
// a death test in a child process that it starts afresh (on Windows, always)
// and that inherits this process's environment. With msvcrt.dll, _wgetenv in
// that child would read a copy made from the narrow environment, in which
// 工具 is lost; under Wine msvcrt.dll reads the wide one, so there both reads
// pass and only real Windows can tell them apart.
TEST(ReadPathVariableDeathTest, ReadsTheValueInheritedFromTheParent) {
  constexpr wchar_t kInheritedWide[] = L"STATUS_BRIDGE_TEST_INHERITED_PATH";
  constexpr char kInherited[] = "STATUS_BRIDGE_TEST_INHERITED_PATH";
  // D:\工具\ (U+5DE5 U+5177) in UTF-8.
  const std::string expected = "D:\\\xE5\xB7\xA5\xE5\x85\xB7\\";
  // The child runs this body again up to the statement, and finds the value
  // already there: only the parent sets it.
  const bool parent = _wgetenv(kInheritedWide) == nullptr;
  if (parent) {
    ASSERT_EQ(_wputenv_s(kInheritedWide, L"D:\\\x5DE5\x5177\\"), 0);
  }
  EXPECT_EXIT(
      {
        std::string bytes = ReadPathVariable(kInherited);
        for (unsigned char byte : bytes) {
          std::fprintf(stderr, "%02X ", byte);
        }
        std::exit(bytes == expected ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  if (parent) {
    ASSERT_EQ(_wputenv_s(kInheritedWide, L""), 0);
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
