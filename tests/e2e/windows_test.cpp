// What only the Windows build shows: the C runtime's text-mode streams, the
// wide environment, backslash paths, the MSVC-ABI vendor library and how
// vendor exceptions and crashes end a run. Run against the Windows build
// (under Wine); every other target skips these tests.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

// The rules of the stand-in LMC file used here.
constexpr char kRules[] =
    "verified U1\n"
    "not-verified U2\n"
    "throw-class U3\n"
    "crash U5\n"
    "verified-2 U6\n"
    "verified Bl\366ck\n";  // Blöck in code page 1252

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!GetTarget().windows) {
      GTEST_SKIP() << "the bridge under test is not a Windows program";
    }
    lmc_ = TargetPath(dir_.Write("a.lmc", kRules));
  }

  ScratchDir dir_;
  std::string lmc_;
};

// Cases that call the MSVC-ABI stand-in vendor library, which only the
// 32-bit build has.
class MsvcAbiVendorTest : public WindowsTest {
 protected:
  void SetUp() override {
    if (GetTarget().win64) {
      GTEST_SKIP() << "32-bit only: needs the MSVC-ABI vendor library";
    }
    WindowsTest::SetUp();
  }
};

// The run of a server that answers U1, then calls the vendor with
// `block_name`, which ends the process: its standard output, its trace
// without Wine's own notice, and its exit code.
RunResult RunUntilTheVendorFaults(const std::string& lmc,
                                  const std::string& block_name) {
  RunResult run =
      RunBridge({"--server"}, StandInEnv(true),
                Request("1", lmc, "U1") + Request("2", lmc, block_name) +
                    Request("3", lmc, "U1"));
  // Wine itself writes a notice to standard error when a program dies of an
  // unhandled exception; Windows writes none.
  run.err = run.err.substr(0, run.err.find("wine: Unhandled "));
  return run;
}

// The answers and trace of such a run: the first request's only.
void ExpectNoAnswerAfterTheFault(const RunResult& run, const std::string& lmc) {
  EXPECT_EQ(run.out, Lines({SuccessLine("1", "U1", lmc, true)}));
  EXPECT_EQ(run.err,
            TraceOf({"starting", "dll-loaded", "export-found", "server-ready",
                     "calling-status-function", "status-function-returned",
                     "cstring-scope-ended", "calling-status-function"}));
}

// Requests ended by CR LF arrive without the CR; every LF that the bridge
// writes, on standard output and on standard error alike, leaves as CR LF.
// A CR that is not directly followed by LF stays in the line.
TEST_F(WindowsTest, TextModeStreamsTranslateLineEnds) {
  std::string request = Request("1", lmc_, "U1");
  request.insert(request.size() - 1, "\r");
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    std::string out;
    std::string err;
  } cases[] = {
      {"server",
       {"--server"},
       request + "\r\n" + "\r\r\n",
       SuccessLine("1", "U1", lmc_, true) + "\r\n" + ErrorLine(kEmptyRequest) +
           "\r\n" + ErrorLine(kInvalidRequest) + "\r\n",
       "[status-bridge] starting\r\n[status-bridge] dll-loaded\r\n"
       "[status-bridge] export-found\r\n[status-bridge] server-ready\r\n"
       "[status-bridge] calling-status-function\r\n"
       "[status-bridge] status-function-returned\r\n"
       "[status-bridge] cstring-scope-ended\r\n"
       "[status-bridge] server-eof\r\n"},
      {"lone CR inside a value",
       {"--codec-test"},
       "{\"request_id\":\"1\r2\",\"lmc_file\":\"a\",\"block_name\":\"b\"}\r\n",
       "{\"request_id\":\"1\\r2\",\"lmc_file\":\"a\",\"block_name\":\"b\"}\r\n",
       ""},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge(c.args, StandInEnv(true), c.input);
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.err, c.err) << c.what;
    EXPECT_EQ(run.exit_code, 0) << c.what;
  }
}

// In text mode the C runtime reads a 0x1A byte (Ctrl+Z) on standard input as
// the end of the input: the bytes before it still form a line, everything
// from it on is never read.
TEST_F(WindowsTest, CtrlZEndsTheInput) {
  const std::string valid = Request("1", lmc_, "U1");
  const std::string answer = SuccessLine("1", "U1", lmc_, true);
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::string input;
    std::string out;
    int exit_code;
  } cases[] = {
      {"inside the only line: the rest of it is lost",
       {"--codec-test"},
       "{\"request_id\":\"1\",\"lmc_file\":\"a\x1A\",\"block_name\":\"b\"}\n",
       "",
       6},
      {"before the first line: no line at all",
       {},
       "\x1A" + valid,
       Lines({ErrorLine(kMissingRequest)}),
       5},
      {"between requests: the server sees the end",
       {"--server"},
       valid + "\x1A\n" + valid,
       Lines({answer}),
       0},
      {"ending a line without LF",
       {},
       valid.substr(0, valid.size() - 1) + "\x1A",
       Lines({answer}),
       0},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge(c.args, StandInEnv(), c.input);
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
  }
}

// The library path is read from the wide environment and carried as UTF-8.
// Read through the narrow environment instead, a folder named 工具 arrives in
// the ANSI code page: under Wine (code page 1252) as "??", the bytes 3F 3F,
// so the load below would fail and the error line would name "??".
TEST_F(WindowsTest, NonAsciiFolderFromTheWideEnvironment) {
  const std::string folder = dir_.Path("\xE5\xB7\xA5\xE5\x85\xB7");  // 工具
  const std::string lib = folder + "/common/win32/lib";
  std::filesystem::create_directories(FsPath(lib));
  std::filesystem::copy_file(GetTarget().vendor_library,
                             FsPath(lib + "/LMCDLL70.dll"));
  const std::string missing = TargetPath(folder + "/missing.dll");
  struct Case {
    const char* what;
    Environment env;
    std::string out;
    int exit_code;
  } cases[] = {
      {"SDD_HOME", {{"SDD_HOME", TargetPath(folder)}}, Lines({kProbeLine}), 0},
      {"LMCDLL70_PATH",
       {{"LMCDLL70_PATH", TargetPath(lib + "/LMCDLL70.dll")}},
       Lines({kProbeLine}),
       0},
      {"load failure names the path in UTF-8",
       {{"LMCDLL70_PATH", missing}},
       Lines({ErrorLine(kLoadFailed + missing)}),
       2},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge({"--probe-only"}, c.env, "");
    EXPECT_EQ(run.out, c.out) << c.what;
    EXPECT_EQ(run.exit_code, c.exit_code) << c.what;
  }
}

// SDD_HOME is joined to the library's place below it as written: a trailing
// backslash is kept and doubles the separator.
TEST_F(WindowsTest, BackslashSddHomeForms) {
  struct Case {
    std::string sdd_home;
    std::string path;
  } cases[] = {
      {"D:\\tools\\", "D:\\tools\\\\common\\win32\\lib\\LMCDLL70.dll"},
      {"D:\\tools", "D:\\tools\\common\\win32\\lib\\LMCDLL70.dll"},
  };
  for (const Case& c : cases) {
    RunResult run = RunBridge({"--probe-only"}, {{"SDD_HOME", c.sdd_home}}, "");
    EXPECT_EQ(run.out, Lines({ErrorLine(kLoadFailed + c.path)})) << c.sdd_home;
    EXPECT_EQ(run.exit_code, 2) << c.sdd_home;
  }
}

// Through the MSVC-ABI export: the block-name string built in the argument
// slot and the LMC-file string by reference arrive intact (the stand-in logs
// what it received), whatever their length, and in the ANSI code page.
TEST_F(MsvcAbiVendorTest, ExportReceivesTheStringsIntact) {
  const std::string log = dir_.Path("calls.log");
  const std::string long_name(5000, 'L');
  const std::string latin = "Bl\303\266ck";  // Blöck
  Environment env = StandInEnv();
  env.emplace_back(kStandInCallLog, TargetPath(log));
  RunResult run = RunBridge({"--server"}, env,
                            Request("a", lmc_, latin, "RUL") +
                                Request("b", lmc_, long_name, "7") +
                                Request("c", lmc_, "U6", "-3"));
  EXPECT_EQ(run.out, Lines({SuccessLine("a", latin, lmc_, true),
                            SuccessLine("b", long_name, lmc_, false),
                            // A C++ bool cannot carry the byte 2: true.
                            SuccessLine("c", "U6", lmc_, true)}));
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(ReadFile(log), "name=Bl%F6ck type=1 lmc=" + lmc_ + "\n" +
                               "name=" + long_name + " type=7 lmc=" + lmc_ +
                               "\n" + "name=U6 type=-3 lmc=" + lmc_ + "\n");
}

// `text` as the stand-in vendor logs it: bytes outside '!'..'~', and '%',
// as %XX.
std::string AsLogged(const std::string& text) {
  std::string logged;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < '!' || byte > '~' || byte == '%') {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", byte);
      logged += escaped;
    } else {
      logged.push_back(c);
    }
  }
  return logged;
}

// The LMC file's name and the block name reach the vendor in the ANSI code
// page, which Wine takes from LC_ALL: 1252 under C.UTF-8, 936 under
// zh_CN.UTF-8. The answer echoes the request's own UTF-8. Bytes that are no
// UTF-8 pass as they are; a name that the code page cannot hold, a best-fit
// look-alike included, is refused without a call, and the server goes on.
TEST_F(WindowsTest, NamesReachTheVendorInTheAnsiCodePage) {
  // Octal escapes, which end after three digits, keep each literal whole.
  const std::string latin = "Bl\303\266ck";   // Blöck
  const std::string latin_1252 = "Bl\366ck";  // Blöck in code page 1252
  const std::string kuai = "\345\235\2271";   // 块1
  const std::string a_macron = "\304\201";    // ā: "a" by best fit
  // The files' names on the host are UTF-8; their rules are in the code page.
  const std::string latin_lmc =
      TargetPath(dir_.Write("\303\234ber.lmc", "verified Bl\366ck\n"));
  // Wine spells a host file name in the host's locale, which may not be
  // installed for zh_CN, so the file read under code page 936 has an ASCII
  // name; a Chinese file name still names it in the refused request.
  const std::string chinese_lmc = TargetPath(dir_.Path("\345\235\227.lmc"));
  const std::string gbk_lmc =
      TargetPath(dir_.Write("gbk.lmc", "verified \277\3511\n"));
  // The files' names as the vendor receives them.
  const std::string latin_lmc_1252 =
      AsLogged(latin_lmc.substr(0, latin_lmc.size() - 9) + "\334ber.lmc");
  const std::string refused = ErrorLine(kUnrepresentable);
  struct Case {
    const char* locale;
    std::string input;
    std::string out;
    std::string logged;
  } cases[] = {
      {"C.UTF-8",
       Request("1", latin_lmc, latin) + Request("2", latin_lmc, kuai) +
           Request("3", latin_lmc, a_macron) + Request("4", chinese_lmc, "U1") +
           Request("5", latin_lmc, latin_1252),
       Lines({SuccessLine("1", latin, latin_lmc, true), refused, refused,
              refused, SuccessLine("5", latin_1252, latin_lmc, true)}),
       "name=Bl%F6ck type=0 lmc=" + latin_lmc_1252 + "\n" +
           "name=Bl%F6ck type=0 lmc=" + latin_lmc_1252 + "\n"},
      {"zh_CN.UTF-8",
       Request("1", gbk_lmc, kuai) + Request("2", latin_lmc, latin),
       Lines({SuccessLine("1", kuai, gbk_lmc, true), refused}),
       "name=%BF%E91 type=0 lmc=" + gbk_lmc + "\n"},
  };
  for (const Case& c : cases) {
    if (!GetTarget().locale_sets_code_page &&
        std::string(c.locale) != "C.UTF-8") {
      continue;  // The code page stays 1252; the Linux side runs this case.
    }
    const std::string log = dir_.Path(std::string(c.locale) + ".log");
    Environment env = StandInEnv();
    env.emplace_back(kStandInCallLog, TargetPath(log));
    env.emplace_back("LC_ALL", c.locale);
    RunResult run = RunBridge({"--server"}, env, c.input);
    EXPECT_EQ(run.out, c.out) << c.locale;
    EXPECT_EQ(run.exit_code, 0) << c.locale;
    EXPECT_EQ(ReadFile(log), c.logged) << c.locale;
  }
  // One-shot: the refusal is the run's answer, and the run ends with 0.
  RunResult run = RunBridge({}, StandInEnv(), Request("1", latin_lmc, kuai));
  EXPECT_EQ(run.out, Lines({refused}));
  EXPECT_EQ(run.exit_code, 0);
}

// Any non-zero result byte reads as verified: the mingw stand-in returns 2.
TEST_F(WindowsTest, MingwExportsByteTwoReadsAsVerified) {
  if (GetTarget().msvc) {
    GTEST_SKIP() << "the MSVC build has no mingw-built stand-in";
  }
  RunResult run = RunBridge({}, ThrowingStandInEnv(), Request("1", lmc_, "U6"));
  EXPECT_EQ(run.out, Lines({SuccessLine("1", "U6", lmc_, true)}));
  EXPECT_EQ(run.exit_code, 0);
}

// What no handler of the bridge catches ends the process at once, with no
// answer, no crash report and no dialog to wait on. An access violation in
// the vendor library: STATUS_ACCESS_VIOLATION.
TEST_F(WindowsTest, AccessViolationInTheVendorEndsTheRunWithoutAnAnswer) {
  RunResult run = RunUntilTheVendorFaults(lmc_, "U5");
  ExpectNoAnswerAfterTheFault(run, lmc_);
  EXPECT_EQ(run.exit_code, ExitCodeOfStatus(0xC0000005));
}

// An MSVC C++ exception (code 0xE06D7363), which the mingw build's handlers
// cannot see: only the MSVC build can catch it.
TEST_F(MsvcAbiVendorTest, MsvcExceptionEndsTheRunWithoutAnAnswer) {
  if (GetTarget().msvc) {
    GTEST_SKIP() << "the MSVC build catches it (RequestsTest covers that)";
  }
  RunResult run = RunUntilTheVendorFaults(lmc_, "U3");
  ExpectNoAnswerAfterTheFault(run, lmc_);
  EXPECT_EQ(run.exit_code, ExitCodeOfStatus(0xE06D7363));
}

}  // namespace
}  // namespace e2e
