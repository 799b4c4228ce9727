// The stand-in vendor library for builds with a C++ runtime (POSIX, mingw).
// The build exports StandInIsVerifiedReuseBlock under the decorated name of
// the vendor's status export.

#include <cstdint>
#include <stdexcept>

#include "standin/cstring_runtime/standin_cstring.h"
#include "standin/status_library/call_support.h"

namespace {

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
  standin::LogCall(block_name.text, block_type, lmc_file->text);
  standin::Rule rule = standin::RuleFromFile(lmc_file->text, block_name.text);
  // The by-value copy is the callee's to destroy, on every way out.
  StandInCStringDestroy(&block_name);
  switch (rule.outcome) {
    case standin::Outcome::kVerified:
      return 1;
    case standin::Outcome::kVerifiedTwo:
      return 2;
    case standin::Outcome::kNotVerified:
      return 0;
    case standin::Outcome::kPrintStdio:
    case standin::Outcome::kPrintHandle:
      standin::PrintNote(rule.outcome);
      return 1;
    case standin::Outcome::kSleep:
      standin::Pause(rule.milliseconds);
      return 1;
    case standin::Outcome::kHang:
      standin::Hang();
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
