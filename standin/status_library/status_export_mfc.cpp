// The stand-in vendor library of the MSVC build, built as the vendor's own
// library is: with MSVC and the shared MFC runtime. The export is declared
// with the vendor's signature, so the compiler derives its decorated name and
// the MSVC by-value convention from MFC's own CStringA: the caller builds the
// block-name string in its argument slot, and this function destroys it when
// it returns, by any way out.
//
// It behaves as the other stand-ins: the rules of lmc_rules.h, the call log
// and the unload note of call_support.h. Two outcomes take this build's
// forms:
// - "verified-2" returns true: a C++ bool cannot carry the byte 2.
// - "throw-class" throws what MFC throws, a pointer to a CException that the
//   catcher frees with Delete(); "throw-int" throws an int.

// First: MFC refuses a <windows.h> included before <afx.h>.
#include <afx.h>
#include <stdint.h>

#include "standin/status_library/call_support.h"

namespace {

// Writes through an address the compiler cannot prove null, so the crash is
// a real access violation rather than an optimised-out store.
volatile uintptr_t crash_address = 0;

}  // namespace

namespace reusableBlocks {

// The block type: a 32-bit enumeration whose values the bridge passes on as
// numbers; these two are the words it knows.
enum eReuseBlockType { kReuseBlockLp = 0, kReuseBlockRul = 1 };

__declspec(dllexport) bool IsVerifiedReuseBlock(CStringA block_name,
                                                eReuseBlockType block_type,
                                                const CStringA& lmc_file) {
  standin::LogCall(block_name.GetString(), block_type, lmc_file.GetString());
  standin::Rule rule =
      standin::RuleFromFile(lmc_file.GetString(), block_name.GetString());
  switch (rule.outcome) {
    case standin::Outcome::kVerified:
    case standin::Outcome::kVerifiedTwo:
      return true;
    case standin::Outcome::kNotVerified:
      return false;
    case standin::Outcome::kPrintStdio:
    case standin::Outcome::kPrintHandle:
      standin::PrintNote(rule.outcome);
      return true;
    case standin::Outcome::kSleep:
      standin::Pause(rule.milliseconds);
      return true;
    case standin::Outcome::kHang:
      standin::Hang();
    case standin::Outcome::kThrowClass:
      AfxThrowNotSupportedException();
      break;
    case standin::Outcome::kThrowInt:
      throw 42;
    case standin::Outcome::kCrash:
      *reinterpret_cast<volatile int*>(crash_address) = 1;  // NOLINT
      break;
  }
  return false;
}

}  // namespace reusableBlocks
