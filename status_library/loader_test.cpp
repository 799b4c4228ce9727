#include "status_library/loader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "tests/test_support.h"

namespace status_bridge {
namespace {

using test_support::ScopedEnv;

TEST(ResolveStatusLibraryPathTest, ChoosesByEnvironment) {
  const std::string below_home = kStatusLibraryBelowHome;
  struct Case {
    std::optional<std::string> lmcdll70_path;
    std::optional<std::string> sdd_home;
    std::string path;
  } cases[] = {
      {"/opt/x/LMCDLL70.dll", "/sdd", "/opt/x/LMCDLL70.dll"},
      {"  ", std::nullopt, "  "},
      {std::nullopt, "D:\\tools\\", "D:\\tools\\" + below_home},
      {std::nullopt, "D:\\tools", "D:\\tools" + below_home},
      {std::nullopt, "/sdd/", "/sdd/" + below_home},
      {std::nullopt, " ", " " + below_home},
      {std::nullopt, std::nullopt, "LMCDLL70.dll"},
      {"\"q\"", "/sdd", "\"q\""},
  };
  for (const Case& c : cases) {
    ScopedEnv path("LMCDLL70_PATH", c.lmcdll70_path);
    ScopedEnv home("SDD_HOME", c.sdd_home);
    const char* from = "stale";
    EXPECT_EQ(ResolveStatusLibraryPath(&from), c.path);
    // The variable the path came from, which the doctor names.
    EXPECT_STREQ(from, c.lmcdll70_path ? "LMCDLL70_PATH"
                       : c.sdd_home    ? "SDD_HOME"
                                       : nullptr);
  }
}

TEST(ResolveStatusLibraryPathTest, EmptyValuesCountAsUnset) {
#if defined(_WIN32)
  GTEST_SKIP() << "the C runtime cannot hold an empty variable";
#endif
  {
    ScopedEnv path("LMCDLL70_PATH", "");
    ScopedEnv home("SDD_HOME", "/sdd");
    const char* from = nullptr;
    EXPECT_EQ(ResolveStatusLibraryPath(&from),
              "/sdd" + std::string(kStatusLibraryBelowHome));
  }
  {
    ScopedEnv path("LMCDLL70_PATH", "");
    ScopedEnv home("SDD_HOME", "");
    const char* from = nullptr;
    EXPECT_EQ(ResolveStatusLibraryPath(&from), "LMCDLL70.dll");
  }
}

}  // namespace
}  // namespace status_bridge
