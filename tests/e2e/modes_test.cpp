// Mode choice, the codec self-test, the trace log and the ways a run ends
// before any request is answered.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

// Two requests for the absent LMC file "none.lmc": answered as not verified.
const std::string kTwoRequests =
    Request("1", "none.lmc", "U1") + Request("2", "none.lmc", "U2");

TEST(ModeChoiceTest, OnlyTheWholeFirstArgumentChoosesTheMode) {
  const std::string one_shot =
      Lines({SuccessLine("1", "U1", "none.lmc", false)});
  const std::string server = Lines({SuccessLine("1", "U1", "none.lmc", false),
                                    SuccessLine("2", "U2", "none.lmc", false)});
  const std::string echo =
      Lines({R"({"request_id":"1","lmc_file":"none.lmc","block_name":"U1"})"});
  const std::string probe = Lines({kProbeLine});
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{}, one_shot},
      {{"--server"}, server},
      {{"--SERVER"}, one_shot},
      {{"--server=1"}, one_shot},
      {{" --server"}, one_shot},
      {{"--server "}, one_shot},
      {{"--serve"}, one_shot},
      {{""}, one_shot},
      {{"x", "--server"}, one_shot},
      {{"--server", "--probe-only"}, server},
      {{"--probe-only"}, probe},
      {{"--probe-only", "--server"}, probe},
      {{"--codec-test"}, echo},
      {{"--codec-test", "--server"}, echo},
      {{"--Codec-test"}, one_shot},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge(c.args, StandInEnv(), kTwoRequests);
    std::string args;
    for (const std::string& arg : c.args) {
      args += "[" + arg + "]";
    }
    EXPECT_EQ(run.out, c.out) << "args: " << args;
    EXPECT_EQ(run.exit_code, 0) << "args: " << args;
  }
}

// --help and --version answer at once, whatever the environment: with no
// library that could load and tracing on, nothing is traced or read.
TEST(ModeTest, HelpAndVersionTouchNoLibrary) {
  const Environment env = {{"LMCDLL70_PATH", TargetPath("/nonexistent/x.dll")},
                           {kTraceOn, "1"}};
  struct Case {
    const char* arg;
    std::string first_line;  // The start of the first line written.
  } cases[] = {
      {"--help", "usage: status-bridge [--server | --probe-only"},
      {"--version", "status-bridge 0.1.0 ("},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge({c.arg}, env, kTwoRequests);
    EXPECT_EQ(run.out.compare(0, c.first_line.size(), c.first_line), 0)
        << c.arg << ": " << run.out;
    EXPECT_EQ(run.err, "") << c.arg;
    EXPECT_EQ(run.exit_code, 0) << c.arg;
  }
}

TEST(CodecSelfTest, EchoesOrFailsSilently) {
  struct Case {
    const char* what;
    std::string input;
    std::string out;
    int exit_code;
  } cases[] = {
      {"empty input", "", "", 5},
      {"no block_name",
       R"({"request_id":"1","lmc_file":"a"})"
       "\n",
       "", 6},
      {"empty block_name",
       R"({"request_id":"1","lmc_file":"a","block_name":""})"
       "\n",
       "", 6},
      {"empty line", "\n", "", 6},
      {"no op",
       R"({"request_id":"1","lmc_file":"a","block_name":"b"})"
       "\n",
       Lines({R"({"request_id":"1","lmc_file":"a","block_name":"b"})"}), 0},
      {"other op, no final LF",
       R"({"op":"x","request_id":"1","lmc_file":"a","block_name":"b"})",
       Lines({R"({"request_id":"1","lmc_file":"a","block_name":"b"})"}), 0},
      {"first line only",
       R"({"request_id":"1","lmc_file":"a","block_name":"b"})"
       "\n"
       R"({"request_id":"2","lmc_file":"a","block_name":"b"})"
       "\n",
       Lines({R"({"request_id":"1","lmc_file":"a","block_name":"b"})"}), 0},
      {"escapes",
       R"({"request_id":"a\/b","lmc_file":"D:\\x","block_name":"t\tn\nq\""})"
       "\n",
       Lines({"{\"request_id\":\"a/b\",\"lmc_file\":\"D:\\\\x\",\"block_name\":"
              "\"t\tn\\nq\\\"\"}"}),
       0},
  };
  // The self-test reads no environment: tracing and a missing library change
  // nothing.
  Environment env = {{kTraceOn, "1"}, {"LMCDLL70_PATH", "/nonexistent/x.dll"}};
  for (const Case& c : cases) {
    RunResult run = RunBridge({"--codec-test"}, env, c.input);
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.err, "") << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
  }
}

TEST(TraceTest, OnOnlyForExactlyOne) {
  Environment missing = {{"LMCDLL70_PATH", "/nonexistent/LMCDLL70.dll"}};
  for (const char* value : std::initializer_list<const char*>{
           "1", "0", "true", " 1", "1 ", "11", "", nullptr}) {
    Environment env = missing;
    if (value != nullptr) {
      env.emplace_back(kTraceOn, value);
    }
    RunResult run = RunBridge({}, env, "");
    std::string expected = std::string(value ? value : "") == "1"
                               ? TraceOf({"starting", "dll-load-failed"})
                               : "";
    EXPECT_EQ(run.err, expected)
        << "value: [" << (value ? value : "unset") << "]";
    EXPECT_EQ(run.out, Lines({ErrorLine(std::string(kLoadFailed) +
                                        "/nonexistent/LMCDLL70.dll")}));
    EXPECT_EQ(run.exit_code, 2);
  }
}

TEST(LoaderTest, LoadFailuresNameThePathTried) {
  ScratchDir dir;
  const std::string below_home = GetTarget().windows
                                     ? "\\common\\win32\\lib\\LMCDLL70.dll"
                                     : "/common/win32/lib/LMCDLL70.dll";
  std::string not_a_library =
      TargetPath(dir.Write("LMCDLL70.dll", "not a library"));
  struct Case {
    const char* what;
    Environment env;
    std::string path;
  } cases[] = {
      {"missing file wins over SDD_HOME",
       {{"LMCDLL70_PATH", "/nonexistent/a.dll"},
        {"SDD_HOME", TargetPath(dir.Path(""))}},
       "/nonexistent/a.dll"},
      {"SDD_HOME with separator",
       {{"SDD_HOME", "/nonexistent/sdd/"}},
       "/nonexistent/sdd/" + below_home},
      {"SDD_HOME without separator",
       {{"SDD_HOME", "/nonexistent/sdd"}},
       "/nonexistent/sdd" + below_home},
      {"empty LMCDLL70_PATH",
       {{"LMCDLL70_PATH", ""}, {"SDD_HOME", "/nonexistent/s"}},
       "/nonexistent/s" + below_home},
      {"bare name", {}, "LMCDLL70.dll"},
      {"not a library", {{"LMCDLL70_PATH", not_a_library}}, not_a_library},
  };
  for (const Case& c : cases) {
    Environment env = c.env;
    env.emplace_back(kTraceOn, "1");
    RunResult run = RunBridge({"--probe-only"}, env, "");
    EXPECT_EQ(run.out, Lines({ErrorLine(kLoadFailed + c.path)})) << c.what;
    EXPECT_EQ(run.err, TraceOf({"starting", "dll-load-failed"})) << c.what;
    EXPECT_EQ(run.exit_code, 2) << c.what;
  }
}

TEST(LoaderTest, NonAsciiPathsLoad) {
  ScratchDir dir;
  std::filesystem::create_directory(FsPath(dir.Path("库")));
  std::string good = dir.Path("库/LMCDLL70.dll");
  std::filesystem::copy_file(GetTarget().vendor_library, FsPath(good));
  RunResult run =
      RunBridge({"--probe-only"}, {{"LMCDLL70_PATH", TargetPath(good)}}, "");
  EXPECT_EQ(run.out, Lines({kProbeLine}));
  EXPECT_EQ(run.exit_code, 0);

  if (GetTarget().windows) {
    return;  // Wine cannot pass bytes that are not UTF-8 to the program.
  }
  // A POSIX path is bytes: a name in another encoding loads as it stands.
  std::string latin1 = dir.Path("caf\xe9");
  std::filesystem::create_directory(latin1);
  std::filesystem::copy_file(GetTarget().vendor_library,
                             latin1 + "/LMCDLL70.dll");
  run = RunBridge({"--probe-only"},
                  {{"LMCDLL70_PATH", latin1 + "/LMCDLL70.dll"}}, "");
  EXPECT_EQ(run.out, Lines({kProbeLine}));
  EXPECT_EQ(run.exit_code, 0);
}

// The runs that end before any request, with the trace they leave and the
// moment the stand-in library is unloaded relative to the line that ends them.
TEST(LoaderTest, EarlyEndsReleaseTheLibraryBeforeTheirLine) {
  const std::string vendor = TargetPath(GetTarget().vendor_library);
  const std::string no_export = TargetPath(GetTarget().vendor_without_export);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    Environment env;
    std::string out;
    std::string err;
    int exit_code;
  } cases[] = {
      {"probe",
       {"--probe-only"},
       {{"LMCDLL70_PATH", vendor}},
       Lines({kUnloaded, kProbeLine}),
       TraceOf({"starting", "dll-loaded", "export-found"}),
       0},
      {"probe ignores the opt-in",
       {"--probe-only"},
       {{"LMCDLL70_PATH", vendor}, {kPrivateCallVariable, "no"}},
       Lines({kUnloaded, kProbeLine}),
       TraceOf({"starting", "dll-loaded", "export-found"}),
       0},
      {"probe without export",
       {"--probe-only"},
       {{"LMCDLL70_PATH", no_export}},
       Lines({kUnloaded, ErrorLine(kExportMissing)}),
       TraceOf({"starting", "dll-loaded", "export-missing"}),
       3},
      {"server without export",
       {"--server"},
       {{"LMCDLL70_PATH", no_export}, {kPrivateCallVariable, "1"}},
       Lines({kUnloaded, ErrorLine(kExportMissing)}),
       TraceOf({"starting", "dll-loaded", "export-missing"}),
       3},
      {"one-shot not allowed",
       {},
       {{"LMCDLL70_PATH", vendor}},
       Lines({kUnloaded, ErrorLine(kPrivateCallDisabled)}),
       TraceOf({"starting", "dll-loaded", "export-found"}),
       4},
  };
  for (const Case& c : cases) {
    Environment env = c.env;
    env.emplace_back(kTraceOn, "1");
    env.emplace_back("ORVEK_STANDIN_VENDOR_UNLOAD_NOTE", "1");
    RunOptions options;
    options.stderr_to_stdout = true;
    RunResult run = RunBridge(c.args, env, kTwoRequests, options);
    EXPECT_EQ(run.out, c.err + c.out) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
  }
}

TEST(LoaderTest, OptInMustBeExactlyOne) {
  for (const char* value : std::initializer_list<const char*>{
           "true", "01", " 1", "1 ", "", "yes", nullptr}) {
    for (const char* mode : {"--server", "one-shot"}) {
      Environment env = {
          {"LMCDLL70_PATH", TargetPath(GetTarget().vendor_library)}};
      if (value != nullptr) {
        env.emplace_back(kPrivateCallVariable, value);
      }
      RunResult run = RunBridge({mode}, env, kTwoRequests);
      EXPECT_EQ(run.out, Lines({ErrorLine(kPrivateCallDisabled)}))
          << mode << " [" << (value ? value : "unset") << "]";
      EXPECT_EQ(run.exit_code, 4);
    }
  }
}

}  // namespace
}  // namespace e2e
