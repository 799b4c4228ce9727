// Faults around the bridge's own streams: standard input that is closed or
// unreadable, a reader that goes away, a full disk behind standard output,
// and memory running out.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr char kMissingRequest[] = "缺少 JSON 请求";

// How the bridge's standard input is given to it.
enum class Stdin { kEmptyPipe, kNotOpen, kDirectory };

const char* Describe(Stdin kind) {
  switch (kind) {
    case Stdin::kEmptyPipe:
      return "a pipe closed at once";
    case Stdin::kNotOpen:
      return "no descriptor 0";
    case Stdin::kDirectory:
      return "a directory";
  }
  return "?";
}

// A read error counts as the end of the input, so every reading mode ends as
// it does on an empty input.
TEST(FaultsTest, StandardInputThatCannotBeReadEndsLikeAnEmptyOne) {
  const std::string loaded =
      TraceOf({"starting", "dll-loaded", "export-found"});
  struct Mode {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int exit_code;
  } modes[] = {
      {{"--server"}, "", loaded + TraceOf({"server-ready", "server-eof"}), 0},
      {{}, Lines({ErrorLine(kMissingRequest)}),
       loaded + TraceOf({"waiting-for-request"}), 5},
      {{"--codec-test"}, "", "", 5},
  };
  for (Stdin kind : {Stdin::kEmptyPipe, Stdin::kNotOpen, Stdin::kDirectory}) {
    if (GetTarget().windows && kind != Stdin::kEmptyPipe) {
      // Wine opens files of its own before the program runs, so a closed
      // descriptor 0 does not stay closed, and it cannot hand a directory
      // to a Windows program as its standard input.
      continue;
    }
    for (const Mode& mode : modes) {
      RunOptions options;
      options.stdin_closed = kind == Stdin::kNotOpen;
      options.stdin_path = kind == Stdin::kDirectory ? "/" : "";
      RunResult run = RunBridge(mode.args, VendorEnv(true), "", options);
      std::string what = std::string(Describe(kind)) + ", " +
                         (mode.args.empty() ? "one-shot" : mode.args[0]);
      EXPECT_EQ(run.out, mode.out) << what;
      EXPECT_EQ(run.err, mode.err) << what;
      EXPECT_EQ(run.exit_code, mode.exit_code) << what;
    }
  }
}

}  // namespace
}  // namespace e2e
