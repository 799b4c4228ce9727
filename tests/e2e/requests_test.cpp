// Answering requests: the one-shot tail, the server loop and the call of the
// vendor export as the stand-in vendor library records it.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

using std::string_literals::operator""s;

// The rules of the stand-in LMC file used throughout.
constexpr char kRules[] =
    "verified U1\n"
    "not-verified U2\n"
    "throw-class U3\n"
    "throw-int U4\n"
    "crash U5\n"
    "verified-2 U6\n"
    "print-stdio P1\n"
    "print-handle P2\n"
    "verified U\n";

class RequestsTest : public ::testing::Test {
 protected:
  RequestsTest()
      : lmc_(TargetPath(dir_.Write("a.lmc", kRules))),
        log_(dir_.Path("calls.log")) {}

  // The environment for a run that logs the vendor calls.
  Environment Env(bool trace = false) const {
    Environment env = StandInEnv(trace);
    env.emplace_back(kStandInCallLog, TargetPath(log_));
    return env;
  }
  Environment ThrowingEnv(bool trace = false) const {
    Environment env = ThrowingStandInEnv(trace);
    env.emplace_back(kStandInCallLog, TargetPath(log_));
    return env;
  }
  std::vector<std::string> LoggedCalls() const {
    std::vector<std::string> calls;
    std::string log = ReadFile(log_);
    for (size_t start = 0, end;
         (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
      calls.push_back(log.substr(start, end - start));
    }
    return calls;
  }

  ScratchDir dir_;
  std::string lmc_;
  std::string log_;
};

TEST_F(RequestsTest, OneShotAnswersTheExampleRequestByteForByte) {
  // No file D:\lib\a.lmc exists, so the stand-in answers "not verified".
  RunResult run = RunBridge(
      {}, Env(true),
      R"({"op":"is_verified","request_id":"42","lmc_file":"D:\\lib\\a.lmc","block_name":"U1","block_type":"RUL"})"
      "\n");
  EXPECT_EQ(
      run.out,
      Lines(
          {R"({"ok":true,"request_id":"42","block_name":"U1","lmc_file":"D:\\lib\\a.lmc","status":"PENDING","source":"IsVerifiedReuseBlock","raw_status":0})"}));
  EXPECT_EQ(
      run.err,
      TraceOf({"starting", "dll-loaded", "export-found", "waiting-for-request",
               "request-parsed", "calling-status-function",
               "status-function-returned", "cstring-scope-ended"}));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(LoggedCalls(),
            std::vector<std::string>{R"(name=U1 type=1 lmc=D:\lib\a.lmc)"});
}

TEST_F(RequestsTest, StatusFollowsTheExportsResultByte) {
  struct Case {
    const char* block_name;
    bool verified;
  } cases[] = {{"U1", true}, {"U2", false}, {"U6", true}, {"unknown", false}};
  for (const Case& c : cases) {
    RunResult run =
        RunBridge({}, Env(), Request("7", lmc_, c.block_name, "RUL"));
    EXPECT_EQ(run.out,
              Lines({SuccessLine("7", c.block_name, lmc_, c.verified)}))
        << c.block_name;
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST_F(RequestsTest, ExportReceivesTheMappedBlockType) {
  struct Case {
    const char* block_type;  // Null: the key is left out.
    const char* received;
  } cases[] = {
      {"RULP", "0"},        {"LP", "0"},
      {nullptr, "0"},       {"", "0"},
      {"RUL", "1"},         {"rul", "0"},
      {"lp", "0"},          {" 7", "7"},
      {"12abc", "12"},      {"abc", "0"},
      {"-3", "-3"},         {"2147483647", "2147483647"},
      {"2147483648", "0"},  {"-2147483648", "-2147483648"},
      {"-2147483649", "0"},
  };
  std::string input;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    input += Request("1", lmc_, "U2", c.block_type);
    expected.push_back(std::string("name=U2 type=") + c.received +
                       " lmc=" + lmc_);
  }
  RunResult run = RunBridge({"--server"}, Env(), input);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(LoggedCalls(), expected);
}

TEST_F(RequestsTest, ExportSeesTheBytesBeforeNulWhileTheAnswerEchoesAll) {
  std::string block_name = "U\0V"s;
  std::string lmc_file = lmc_ + "\0junk"s;
  RunResult run =
      RunBridge({}, Env(), Request("n", lmc_file, block_name, "RUL"));
  // The stand-in saw the rules file and the block "U", which is verified.
  EXPECT_EQ(run.out, Lines({SuccessLine("n", block_name, lmc_file, true)}));
  EXPECT_EQ(LoggedCalls(),
            std::vector<std::string>{"name=U type=1 lmc=" + lmc_});
}

TEST_F(RequestsTest, AnExceptionFromTheExportGivesOneErrorLine) {
  for (const char* block_name : {"U3", "U4"}) {
    RunResult run =
        RunBridge({}, ThrowingEnv(true), Request("1", lmc_, block_name));
    EXPECT_EQ(run.out, Lines({ErrorLine(kStatusCallException)})) << block_name;
    EXPECT_EQ(run.err, TraceOf({"starting", "dll-loaded", "export-found",
                                "waiting-for-request", "request-parsed",
                                "calling-status-function"}))
        << block_name;
    EXPECT_EQ(run.exit_code, 0) << block_name;

    run = RunBridge({"--server"}, ThrowingEnv(),
                    Request("1", lmc_, block_name) + Request("2", lmc_, "U1"));
    EXPECT_EQ(run.out, Lines({ErrorLine(kStatusCallException),
                              SuccessLine("2", "U1", lmc_, true)}))
        << block_name;
    EXPECT_EQ(run.exit_code, 0);
  }
}

TEST_F(RequestsTest, OneShotEndings) {
  const std::string valid = Request("1", lmc_, "U1");
  const std::string answer = SuccessLine("1", "U1", lmc_, true);
  const std::string head = TraceOf(
      {"starting", "dll-loaded", "export-found", "waiting-for-request"});
  const std::string call = CallTrace();
  struct Case {
    const char* what;
    std::string input;
    std::string out;  // The unload note shows when the library is released.
    std::string err;
    int exit_code;
    size_t calls;
  } cases[] = {
      {"empty input", "", Lines({kUnloaded, ErrorLine(kMissingRequest)}), head,
       5, 0},
      {"empty first line", "\n" + valid,
       Lines({kUnloaded, ErrorLine(kInvalidRequest)}),
       head + TraceOf({"request-parsed"}), 6, 0},
      {"invalid line",
       R"({"op":"is_verified","request_id":"1"})"
       "\n",
       Lines({kUnloaded, ErrorLine(kInvalidRequest)}),
       head + TraceOf({"request-parsed"}), 6, 0},
      {"only the first of two lines", valid + Request("2", lmc_, "U2"),
       Lines({answer, kUnloaded}), head + TraceOf({"request-parsed"}) + call, 0,
       1},
      {"last line without LF", valid.substr(0, valid.size() - 1),
       Lines({answer, kUnloaded}), head + TraceOf({"request-parsed"}) + call, 0,
       1},
  };
  for (const Case& c : cases) {
    std::remove(log_.c_str());
    Environment env = Env(true);
    env.emplace_back("ORVEK_STANDIN_VENDOR_UNLOAD_NOTE", "1");
    RunOptions options;
    options.stderr_to_stdout = true;
    RunResult run = RunBridge({}, env, c.input, options);
    EXPECT_EQ(run.out, c.err + c.out) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
    EXPECT_EQ(LoggedCalls().size(), c.calls) << c.what;
  }
}

TEST_F(RequestsTest, ServerAnswersEveryLineInOrder) {
  const std::string valid = Request("1", lmc_, "U1");
  const std::string answer = SuccessLine("1", "U1", lmc_, true);
  const std::string invalid = ErrorLine(kInvalidRequest);
  const std::string empty = ErrorLine(kEmptyRequest);
  const std::string call = CallTrace();
  struct Case {
    const char* what;
    std::string input;
    std::string out;
    std::string calls_traced;
  } cases[] = {
      {"empty input", "", "", ""},
      {"two LFs", "\n\n", Lines({empty, empty}), ""},
      {"a line of blanks", "   \n", Lines({invalid}), ""},
      {"CR LF alone", "\r\n", Lines({empty}), ""},
      {"CR LF request", valid.substr(0, valid.size() - 1) + "\r\n",
       Lines({answer}), call},
      {"last line without LF", valid + valid.substr(0, valid.size() - 1),
       Lines({answer, answer}), call + call},
      {"valid, invalid, valid", valid + "{}\n" + valid,
       Lines({answer, invalid, answer}), call + call},
      {"empty between", valid + "\n" + valid, Lines({answer, empty, answer}),
       call + call},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge({"--server"}, Env(true), c.input);
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.err, TraceOf({"starting", "dll-loaded", "export-found",
                                "server-ready"}) +
                           c.calls_traced + TraceOf({"server-eof"}))
        << c.what;
    EXPECT_EQ(run.exit_code, 0) << c.what;
  }
}

// A library that prints to standard output during the call, through its C
// runtime or the standard output handle: every request still gets exactly
// its own answer line, and the library's text goes to standard error.
TEST_F(RequestsTest, WhatTheLibraryPrintsNeverReachesTheAnswers) {
  const std::string note =
      "stand-in status library: a diagnostic on standard output";
  for (const char* block : {"P1", "P2"}) {
    for (bool server : {true, false}) {
      std::string input;
      std::string answers;
      for (int id = 1; id <= (server ? 3 : 1); ++id) {
        input += Request(std::to_string(id), lmc_, block);
        answers += Lines({SuccessLine(std::to_string(id), block, lmc_, true)});
      }
      RunResult run = RunBridge(server ? std::vector<std::string>{"--server"}
                                       : std::vector<std::string>{},
                                Env(), input);
      const std::string what = std::string(block) + (server ? " server" : "");
      EXPECT_EQ(run.out, answers) << what;
      EXPECT_NE(run.err.find(note), std::string::npos) << what;
      EXPECT_EQ(run.exit_code, 0) << what;
    }
  }
}

TEST_F(RequestsTest, ServerAnswersEachRequestBeforeReadingTheNext) {
  Conversation bridge(BridgeCommand({"--server"}), BridgeEnv(Env()));
  for (const char* block_name : {"U1", "U2", "U1"}) {
    bridge.Write(Request(block_name, lmc_, block_name));
    std::string line;
    ASSERT_TRUE(bridge.ReadLine(std::chrono::seconds(20), &line)) << block_name;
    EXPECT_EQ(line, Lines({SuccessLine(block_name, block_name, lmc_,
                                       std::string(block_name) == "U1")}));
  }
  EXPECT_EQ(bridge.Finish(), 0);
}

TEST_F(RequestsTest, ACrashInsideTheExportEndsTheProcessWithoutAnAnswer) {
  const std::string first = SuccessLine("1", "U1", lmc_, true);
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string out;
  } cases[] = {
      {{}, Request("c", lmc_, "U5"), ""},
      {{"--server"},
       Request("1", lmc_, "U1") + Request("c", lmc_, "U5") +
           Request("2", lmc_, "U1"),
       Lines({first})},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge(c.args, Env(), c.input);
    EXPECT_EQ(run.out, c.out);
    if (GetTarget().windows) {
      EXPECT_EQ(run.exit_code, ExitCodeOfStatus(0xC0000005));
    } else {
      EXPECT_EQ(run.signal, SIGSEGV);
    }
  }
}

TEST_F(RequestsTest, ServerAnswersAHundredThousandRequestsInOrder) {
  constexpr int kRequests = 100000;
  std::string input;
  std::string expected;
  for (int i = 0; i < kRequests; ++i) {
    std::string id = std::to_string(i);
    // Every 7th line is refused, so that error lines are interleaved too.
    if (i % 7 == 0) {
      input += "{\"request_id\":\"" + id + "\"}\n";
      expected += ErrorLine(kInvalidRequest) + GetTarget().line_end;
    } else {
      input += Request(id, "none.lmc", "U1", "RUL");
      expected +=
          SuccessLine(id, "U1", "none.lmc", false) + GetTarget().line_end;
    }
  }
  RunResult run = RunBridge({"--server"}, StandInEnv(), input);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_TRUE(run.out == expected)
      << "the answers differ from the expected " << kRequests << " lines";
}

}  // namespace
}  // namespace e2e
