// The diagnosis (--diagnose): its report names what would stop a run, and it
// ends with the exit code that the run would end with.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

struct Case {
  const char* what;
  std::vector<std::string> args;
  Environment env;
  std::vector<std::string> lines;  // Each found somewhere in the output.
  int exit_code;
};

void ExpectReport(const Case& c) {
  RunResult run = RunBridge(c.args, c.env, "");
  for (const std::string& line : c.lines) {
    EXPECT_NE(run.out.find(line), std::string::npos)
        << c.what << ": no \"" << line << "\" in\n"
        << run.out;
  }
  EXPECT_EQ(run.exit_code, c.exit_code) << c.what << ":\n" << run.out;
}

// How many times `part` occurs in `text`.
int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(DiagnoseTest, ReportsTheFirstFailingStage) {
  const Target& target = GetTarget();
  const std::string missing = TargetPath("/nonexistent/LMCDLL70.dll");
  // The system's own words for a missing file: Windows' error code, or
  // dlerror's text.
  const std::string not_found =
      target.windows ? "error 126: " : "cannot open shared object file";
  const Case cases[] = {
      {"the stand-in, opted in",
       {"--diagnose"},
       StandInEnv(),
       {"(from LMCDLL70_PATH)", "export: IsVerifiedReuseBlock found",
        "private call: ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE is 1",
        "result: ready to serve requests (exit code 0)"},
       0},
      {"not opted in",
       {"--diagnose"},
       {{"LMCDLL70_PATH", TargetPath(target.vendor_library)}},
       {"export: IsVerifiedReuseBlock found", "private call: NOT ENABLED"},
       4},
      {"no export",
       {"--diagnose"},
       {{"LMCDLL70_PATH", TargetPath(target.vendor_without_export)},
        {kPrivateCallVariable, "1"}},
       {"export: MISSING"},
       3},
      {"no file",
       {"--diagnose"},
       {{"LMCDLL70_PATH", missing}, {kPrivateCallVariable, "1"}},
       {"file: NOT FOUND", "load: FAILED (", not_found},
       2},
      {"only the exact first argument",
       {"--diagnose-all"},
       StandInEnv(),
       {ErrorLine(kMissingRequest)},
       5},
  };
  for (const Case& c : cases) {
    ExpectReport(c);
  }
  if (!target.windows) {
    // A device is reported, never read or loaded: /dev/zero has no end.
    ExpectReport(
        {"a device",
         {"--diagnose"},
         {{"LMCDLL70_PATH", "/dev/zero"}, {kPrivateCallVariable, "1"}},
         {"file: NOT A FILE", "result: a run would end with exit code 2"},
         2});
  }
}

// A vendor library whose own DLL lies beside it is not found by plain
// LoadLibraryW; the report names that DLL, and the folder on PATH cures it.
// A DLL of the other bitness fails with error 193, one whose DllMain fails
// with 1114.
TEST(DiagnoseTest, WindowsLoadFailuresAreExplained) {
  const Target& target = GetTarget();
  if (!target.windows) {
    GTEST_SKIP() << "the bridge under test is not a Windows program";
  }
  if (target.vendor_with_dependency.empty()) {
    GTEST_SKIP() << "its doubles are not given: a cross build runs this case "
                    "from the Linux side (tools/test-windows.sh), the MSVC "
                    "build with STATUS_BRIDGE_OTHER_BITNESS_STANDIN set";
  }
  const std::string with_dependency = TargetPath(target.vendor_with_dependency);
  const std::string folder =
      TargetPath(std::filesystem::path(target.vendor_with_dependency)
                     .parent_path()
                     .u8string());
  const bool x86 = !target.win64;
  const Case cases[] = {
      {"a dependency beside the library",
       {"--diagnose"},
       {{"LMCDLL70_PATH", with_dependency}, {kPrivateCallVariable, "1"}},
       {"load: FAILED (error 126: ",
        "dependency lmc_helper.dll: NOT FOUND (error 126: ",
        "fix: put the folder that holds the missing DLLs"},
       2},
      {"its folder on PATH",
       {"--diagnose"},
       {{"LMCDLL70_PATH", with_dependency},
        {kPrivateCallVariable, "1"},
        {target.msvc ? "PATH" : "WINEPATH", folder}},
       {"result: ready to serve requests"},
       0},
      {"the other bitness",
       {"--diagnose"},
       {{"LMCDLL70_PATH", TargetPath(target.vendor_other_bitness)},
        {kPrivateCallVariable, "1"}},
       {x86 ? "file: found, x64 (64-bit) DLL: this bridge is x86 (32-bit)"
            : "file: found, x86 (32-bit) DLL: this bridge is x64 (64-bit)",
        "load: FAILED (error 193: "},
       2},
      {"a failing initialisation",
       {"--diagnose"},
       {{"LMCDLL70_PATH", TargetPath(target.vendor_failing_init)},
        {kPrivateCallVariable, "1"}},
       {"load: FAILED (error 1114: ", "initialisation failed"},
       2},
  };
  for (const Case& c : cases) {
    ExpectReport(c);
  }
  // Only the DLL that is missing is named; those found are not.
  RunResult run = RunBridge({"--diagnose"}, cases[0].env, "");
  EXPECT_EQ(Count(run.out, "dependency "), 1) << run.out;
}

}  // namespace
}  // namespace e2e
