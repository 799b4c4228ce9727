// The stand-in vendor library for builds with a C++ runtime (POSIX, mingw).
// The build exports StandInIsVerifiedReuseBlock under the decorated name of
// the vendor's status export.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "standin/cstring_runtime/standin_cstring.h"
#include "standin/vendor/lmc_rules.h"

namespace {

// The environment variable naming the file to which every call is logged.
constexpr char kCallLogVariable[] = "ORVEK_STANDIN_VENDOR_LOG";

// When this environment variable is set, the library writes kUnloadNote to
// standard output as it is unloaded, so a test can see when the bridge
// releases it relative to the bridge's own lines.
constexpr char kUnloadNoteVariable[] = "ORVEK_STANDIN_VENDOR_UNLOAD_NOTE";
constexpr char kUnloadNote[] = "stand-in vendor library unloaded\n";

struct UnloadNote {
  ~UnloadNote() {
    const char* value = std::getenv(kUnloadNoteVariable);
    if (value != nullptr && *value != '\0') {
      std::fputs(kUnloadNote, stdout);
      std::fflush(stdout);
    }
  }
} unload_note;

void AppendToString(const char* bytes, size_t length, void* context) {
  static_cast<std::string*>(context)->append(bytes, length);
}

// Appends the call's record to the log file, when one is named.
void LogCall(const char* block_name, std::int32_t block_type,
             const char* lmc_file) {
  const char* log_path = std::getenv(kCallLogVariable);
  if (log_path == nullptr || *log_path == '\0') {
    return;
  }
  std::string record;
  standin::EmitCallRecord(block_name, block_type, lmc_file, AppendToString,
                          &record);
  if (std::FILE* log = std::fopen(log_path, "ab")) {
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
  }
}

// The rule text of the LMC file at `path`; empty when it cannot be read.
std::string ReadRules(const char* path) {
  std::string text;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
      text.append(buffer, count);
    }
    std::fclose(file);
  }
  return text;
}

// Writes through an address the compiler cannot prove null, so the crash is
// a real access violation rather than an optimised-out store.
volatile std::uintptr_t crash_address = 0;

// Crashes with an access violation. Exempt from the sanitizers' null check,
// so that a sanitizer build crashes here as every other build does instead
// of reporting the store; GCC keeps the exemption only for a function that is
// not inlined.
__attribute__((noinline, no_sanitize("null"))) void Crash() {
  *reinterpret_cast<volatile int*>(crash_address) = 1;  // NOLINT
}

}  // namespace

#if defined(_WIN32)
#define STANDIN_EXPORT __declspec(dllexport)
#else
#define STANDIN_EXPORT __attribute__((visibility("default")))
#endif

extern "C" STANDIN_EXPORT std::uint8_t StandInIsVerifiedReuseBlock(
    StandInCString block_name, std::int32_t block_type,
    const StandInCString* lmc_file) {
  LogCall(block_name.text, block_type, lmc_file->text);
  std::string rules = ReadRules(lmc_file->text);
  standin::Outcome outcome =
      standin::FindOutcome(rules.data(), rules.size(), block_name.text);
  // The by-value copy is the callee's to destroy, on every way out.
  StandInCStringDestroy(&block_name);
  switch (outcome) {
    case standin::Outcome::kVerified:
      return 1;
    case standin::Outcome::kVerifiedTwo:
      return 2;
    case standin::Outcome::kNotVerified:
      return 0;
    case standin::Outcome::kThrowClass:
      throw std::runtime_error("stand-in vendor library: requested failure");
    case standin::Outcome::kThrowInt:
      throw 42;
    case standin::Outcome::kCrash:
      Crash();
      break;
  }
  return 0;
}
