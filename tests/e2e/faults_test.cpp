// Faults around the bridge's own streams: standard input that is closed or
// unreadable, a reader that goes away, a full disk behind standard output,
// and memory running out.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

constexpr unsigned long long kMiB = 1ULL << 20;

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
      {{},
       Lines({ErrorLine(kMissingRequest)}),
       loaded + TraceOf({"waiting-for-request"}),
       5},
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
      RunResult run = RunBridge(mode.args, StandInEnv(true), "", options);
      std::string what = std::string(Describe(kind)) + ", " +
                         (mode.args.empty() ? "one-shot" : mode.args[0]);
      EXPECT_EQ(run.out, mode.out) << what;
      EXPECT_EQ(run.err, mode.err) << what;
      EXPECT_EQ(run.exit_code, mode.exit_code) << what;
    }
  }
}

// The rules of the stand-in LMC file used below.
constexpr char kRules[] =
    "verified U1\n"
    "throw-class U3\n"
    "throw-int U4\n";

// Runs whose answers cannot be delivered: a reader that has gone away, and a
// full disk. Each case is one way a run ends.
class LostAnswersTest : public ::testing::Test {
 protected:
  struct Case {
    const char* what;
    std::vector<std::string> args;
    Environment env;
    std::string input;
    std::string err;  // The trace, which still reaches standard error.
    int exit_code;
  };

  LostAnswersTest() : lmc_(TargetPath(dir_.Write("a.lmc", kRules))) {}

  std::vector<Case> Cases() const {
    const std::string loaded =
        TraceOf({"starting", "dll-loaded", "export-found"});
    const std::string one_shot =
        loaded + TraceOf({"waiting-for-request", "request-parsed"});
    const std::string valid = Request("1", lmc_, "U1");
    // A long server run: answered, refused, empty and throwing lines.
    const std::string round = valid + "{}\n" + "\n" + Request("3", lmc_, "U3") +
                              Request("4", lmc_, "U4");
    const std::string thrown = TraceOf({"calling-status-function"});
    const int kRounds = 500;
    Environment vendor = StandInEnv(true);
    Environment throwing = ThrowingStandInEnv(true);
    Environment not_allowed = {
        {"LMCDLL70_PATH", TargetPath(GetTarget().vendor_library)},
        {kTraceOn, "1"}};
    Environment no_export = {
        {"LMCDLL70_PATH", TargetPath(GetTarget().vendor_without_export)},
        {kTraceOn, "1"}};
    Environment missing = {{"LMCDLL70_PATH", "/nonexistent/LMCDLL70.dll"},
                           {kTraceOn, "1"}};
    return {
        {"server",
         {"--server"},
         throwing,
         Repeat(round, kRounds),
         loaded + TraceOf({"server-ready"}) +
             Repeat(CallTrace() + thrown + thrown, kRounds) +
             TraceOf({"server-eof"}),
         0},
        {"one-shot answered", {}, vendor, valid, one_shot + CallTrace(), 0},
        {"one-shot with a throwing export",
         {},
         throwing,
         Request("3", lmc_, "U3"),
         one_shot + thrown,
         0},
        {"one-shot without a line",
         {},
         vendor,
         "",
         loaded + TraceOf({"waiting-for-request"}),
         5},
        {"one-shot with an invalid line", {}, vendor, "{}\n", one_shot, 6},
        {"probe", {"--probe-only"}, vendor, "", loaded, 0},
        {"library missing",
         {},
         missing,
         valid,
         TraceOf({"starting", "dll-load-failed"}),
         2},
        {"export missing",
         {"--server"},
         no_export,
         valid,
         TraceOf({"starting", "dll-loaded", "export-missing"}),
         3},
        {"private call not allowed",
         {"--server"},
         not_allowed,
         valid,
         loaded,
         4},
        {"codec self-test", {"--codec-test"}, vendor, valid, "", 0},
        {"codec self-test without a line", {"--codec-test"}, vendor, "", "", 5},
        {"codec self-test with an invalid line",
         {"--codec-test"},
         vendor,
         "{}\n",
         "",
         6},
    };
  }

  ScratchDir dir_;
  std::string lmc_;
};

// The reader closes standard output before the first answer while standard
// input stays open: the process ignores the broken pipe, answers every line
// into it and ends as it would have.
TEST_F(LostAnswersTest, AReaderThatGoesAwayChangesNothingElse) {
  for (const Case& c : Cases()) {
    RunOptions options;
    options.close_stdout_at_once = true;
    RunResult run = RunBridge(c.args, c.env, c.input, options);
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
    EXPECT_EQ(run.signal, 0) << c.what;
  }
}

// Every write to standard output fails: nothing notices, and no exit code
// changes.
TEST_F(LostAnswersTest, AFullDiskChangesNoExitCode) {
  if (RunsAsWindowsProgram()) {
    GTEST_SKIP() << "Windows has no device that is always full; the Linux "
                    "side runs this case against the Windows build";
  }
  for (const Case& c : Cases()) {
    RunOptions options;
    options.stdout_path = "/dev/full";
    RunResult run = RunBridge(c.args, c.env, c.input, options);
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
  }
}

// Writes `head`, then `zeros` NUL bytes (a hole in the file, so this costs
// neither time nor disk), then `tail` to the file `name` in `dir`.
std::string WriteWithHole(const ScratchDir& dir, const std::string& name,
                          const std::string& head, unsigned long long zeros,
                          const std::string& tail) {
  std::string path = dir.Write(name, head);
  std::filesystem::resize_file(path, head.size() + zeros);
  std::ofstream(path, std::ios::binary | std::ios::app) << tail;
  return path;
}

// A line longer than the memory allowed: exhausted memory is not the end of
// the input, so no mode may end as if it were, or with any exit code of the
// bridge's own.
TEST(ExhaustedMemoryTest, AnOversizedLineEndsTheProcessAbnormally) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "no address-space limit can be set under "
                    "AddressSanitizer, which reserves terabytes for its shadow";
  }
  if (GetTarget().memcheck) {
    GTEST_SKIP() << "no address-space limit can be set under valgrind";
  }
  // Natively, a limit of 48 MiB of address space and a line of 96 MiB. The
  // 32-bit Windows program is not large-address-aware: within its 2 GiB a
  // line of 1 GiB needs a buffer of nearly 2 GiB, which it cannot get, and it
  // ends with STATUS_NO_MEMORY.
  if (GetTarget().win64) {
    GTEST_SKIP() << "32-bit only: needs the 2 GiB address space of a 32-bit "
                    "program";
  }
  const bool windows = GetTarget().windows;
  const unsigned long long line_bytes = (windows ? 1024 : 96) * kMiB;
  ScratchDir dir;
  const std::string lmc = TargetPath(dir.Write("a.lmc", "verified U1\n"));
  const std::string valid = Request("1", lmc, "U1");
  const std::string loaded =
      TraceOf({"starting", "dll-loaded", "export-found"});
  struct Case {
    std::vector<std::string> args;
    std::string head;  // Before the oversized line,
    std::string tail;  // and after it.
    std::string out;
    std::string err;
  } cases[] = {
      {{"--server"},
       valid,
       "\n" + valid,
       Lines({SuccessLine("1", "U1", lmc, true)}),
       loaded + TraceOf({"server-ready"}) + CallTrace()},
      {{}, "", "\n", "", loaded + TraceOf({"waiting-for-request"})},
      {{"--codec-test"}, "", "", "", ""},
  };
  for (const Case& c : cases) {
    const char* mode = c.args.empty() ? "one-shot" : c.args[0].c_str();
    RunOptions options;
    options.stdin_path =
        WriteWithHole(dir, "input.txt", c.head, line_bytes, c.tail);
    options.address_space_limit = windows ? 0 : 48 * kMiB;
    RunResult run = RunBridge(c.args, StandInEnv(true), "", options);
    EXPECT_EQ(run.out, c.out) << mode;
    EXPECT_EQ(run.err, c.err) << mode;
    if (windows) {
      EXPECT_EQ(run.exit_code, ExitCodeOfStatus(0xC0000017)) << mode;
    } else {
      EXPECT_EQ(run.exit_code, -1) << mode;
      EXPECT_EQ(run.signal, SIGABRT) << mode;
    }
  }
}

// Memory running out at any point of a request with a 16 MiB block name. The
// limit steps from too little to read the line to enough for everything;
// each run must end one of three ways. In server mode, which keeps the line
// while it answers, the memory runs out inside the guarded status call
// somewhere in between (the stand-in string runtime throws std::bad_alloc),
// which must give the vendor-exception line. A one-shot run frees its line
// before the call, and the call needs no more than reading the line did, so
// no step need fall between the two there.
TEST(ExhaustedMemoryTest, RunningOutInsideTheStatusCallGivesTheErrorLine) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "no address-space limit can be set under "
                    "AddressSanitizer, which reserves terabytes for its shadow";
  }
  if (GetTarget().windows) {
    GTEST_SKIP() << "Wine needs about 2 GiB of address space to start, the "
                    "whole space of the 32-bit program, so no limit can "
                    "step through a request";
  }
  ScratchDir dir;
  const std::string lmc = dir.Write("a.lmc", "verified *\n");
  const std::string name(16 * kMiB, 'n');
  const std::string small = Request("s", lmc, "U1");
  const std::string small_answer = SuccessLine("s", "U1", lmc, true);
  for (bool server : {true, false}) {
    const char* mode = server ? "server" : "one-shot";
    // In server mode a small request before and after the large one.
    const std::string before = server ? small : "";
    const std::string after = server ? small : "";
    const std::string input = before + Request("big", lmc, name) + after;
    const std::vector<std::string> args =
        server ? std::vector<std::string>{"--server"}
               : std::vector<std::string>{};
    const std::string ended = before.empty() ? "" : Lines({small_answer});
    const std::string refused = Lines(
        server ? std::initializer_list<std::string>{small_answer,
                                                    ErrorLine(
                                                        kStatusCallException),
                                                    small_answer}
               : std::initializer_list<std::string>{
                     ErrorLine(kStatusCallException)});
    const std::string answered = Lines(
        server ? std::initializer_list<std::string>{small_answer,
                                                    SuccessLine("big", name,
                                                                lmc, true),
                                                    small_answer}
               : std::initializer_list<std::string>{
                     SuccessLine("big", name, lmc, true)});
    std::string outcomes;
    for (unsigned long long limit = 24 * kMiB; limit <= 128 * kMiB;
         limit += 8 * kMiB) {
      RunOptions options;
      options.address_space_limit = limit;
      RunResult run = RunBridge(args, StandInEnv(), input, options);
      std::string at =
          std::string(mode) + " with " + std::to_string(limit / kMiB) + " MiB";
      if (run.signal == SIGABRT) {
        EXPECT_EQ(run.out, ended) << at;
        outcomes += 'A';
      } else if (run.exit_code == 0 && run.out == refused) {
        outcomes += 'E';
      } else {
        EXPECT_EQ(run.exit_code, 0) << at;
        EXPECT_TRUE(run.out == answered) << at << ": an unexpected answer";
        outcomes += 'S';
      }
    }
    std::printf(
        "[ figure   ] %s, 24 to 128 MiB in steps of 8: %s "
        "(A abort, E error line, S success)\n",
        mode, outcomes.c_str());
    EXPECT_NE(outcomes.find('A'), std::string::npos) << mode;
    if (server) {
      EXPECT_NE(outcomes.find('E'), std::string::npos) << mode;
    }
    EXPECT_EQ(outcomes.back(), 'S') << mode;
  }
}

}  // namespace
}  // namespace e2e
