#pragma once

// Building blocks of the end-to-end tests: requests, expected answer lines,
// environments and scratch files, all spelt for the target under test.

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/e2e/process_runner.h"
#include "tests/e2e/target.h"

namespace e2e {

inline constexpr char kTraceOn[] = "ORVEK_STATUS_BRIDGE_TRACE";
inline constexpr char kPrivateCallVariable[] =
    "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE";
inline constexpr char kStandInCallLog[] = "ORVEK_STANDIN_VENDOR_LOG";

// The probe line, written out here so that the tests check the program's
// bytes against an independent copy.
inline constexpr char kProbeLine[] =
    R"({"ok":true,"probe":true,"export_found":true,"source":"IsVerifiedReuseBlock"})";
// The messages, written out as the bridge must send them: never taken from
// its own headers, so that a changed text fails here.
inline constexpr char kLoadFailed[] = "无法加载 LMCDLL70.dll: ";
inline constexpr char kExportMissing[] =
    "LMCDLL70.dll 中没有 IsVerifiedReuseBlock 导出";
inline constexpr char kPrivateCallDisabled[] =
    "私有 MFC 状态调用未启用；仅完成导出探测";
inline constexpr char kMissingRequest[] = "缺少 JSON 请求";
inline constexpr char kInvalidRequest[] =
    "请求必须包含 op=is_verified、request_id、lmc_file 和 block_name";
inline constexpr char kStatusCallException[] =
    "调用 Mentor 私有状态函数时发生异常";
inline constexpr char kEmptyRequest[] = "空请求";
inline constexpr char kUnrepresentable[] =
    "lmc_file 或 block_name 含有本机 ANSI 代码页无法表示的字符";
// What the stand-in library writes to standard output as it is unloaded.
inline constexpr char kUnloaded[] = "stand-in vendor library unloaded";

// True when the suite, and with it the native bridge it runs, is built with
// AddressSanitizer, which keeps freed memory in quarantine for a while and
// reserves terabytes of address space for its shadow.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#else
inline constexpr bool kAddressSanitizer = false;
#endif

// A fresh folder for one test's files, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Writes `content` to the file `name` here; returns its host path.
  std::string Write(const std::string& name, const std::string& content) const;
  // The host path of `name` here.
  std::string Path(const std::string& name) const;

 private:
  std::string path_;
};

// The host path `path`, UTF-8, as the file system functions take it (on
// Windows a narrow path would be read in the ANSI code page).
std::filesystem::path FsPath(const std::string& path);

// The whole content of a host file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

// The exit code of a run of the Windows bridge that ended with the Windows
// status `status` (0xC0000005, say): whole when this program started it;
// its low byte when started through Wine from the Linux side, which passes
// on no more.
int ExitCodeOfStatus(unsigned long status);

// The environment of a run against the stand-in vendor library: the library
// path, the private call allowed, tracing as asked.
Environment StandInEnv(bool trace = false);

// As StandInEnv, with the stand-in whose throw rules really throw.
Environment ThrowingStandInEnv(bool trace = false);

// The command that runs the bridge under test with `args`.
std::vector<std::string> BridgeCommand(const std::vector<std::string>& args);

// The whole environment of a run: the target's base environment and `env`,
// whose variables replace those of the same name in the base.
Environment BridgeEnv(const Environment& env);

// Runs the bridge under test with `args`, `env` and `input`.
RunResult RunBridge(const std::vector<std::string>& args,
                    const Environment& env, const std::string& input,
                    RunOptions options = {});

// A request line (with its LF) whose values are written as given; a null
// block type leaves the key out.
std::string Request(const std::string& id, const std::string& lmc_file,
                    const std::string& block_name,
                    const char* block_type = nullptr);

// Lines as the bridge under test writes them: each followed by its line end.
std::string Lines(std::initializer_list<std::string> lines);

// The answer lines, without their line end.
std::string ErrorLine(const std::string& message);
std::string SuccessLine(const std::string& id, const std::string& block_name,
                        const std::string& lmc_file, bool verified);

// The trace of `events` on standard error.
std::string TraceOf(std::initializer_list<const char*> events);

// The trace of one vendor call that returned.
std::string CallTrace();

// `text` `count` times over.
std::string Repeat(const std::string& text, int count);

// JSON-escapes `text` as a request value needs (quote, backslash, LF, CR).
std::string Escaped(const std::string& text);

}  // namespace e2e
