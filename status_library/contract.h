#pragma once

// What the bridge relies on when it calls the vendor's status export:
// reusableBlocks::IsVerifiedReuseBlock, __cdecl, returning bool, taking the
// block name as a narrow MFC CStringT by value, the block type as a 32-bit
// enumeration, and the LMC file as a CStringT by const reference. The caller
// copy-constructs the by-value string in its argument slot; the export
// destroys that copy, so both sides must share one string runtime.

namespace status_bridge {

// The export's MSVC-decorated name, passed to the loader as it stands.
inline constexpr char kIsVerifiedReuseBlockExportName[] =
    "?IsVerifiedReuseBlock@reusableBlocks@@YA_NV?$CStringT@DV?$StrTraitMFC_DLL@"
    "DV?$ChTraitsCRT@D@ATL@@@@@ATL@@W4eReuseBlockType@1@ABV23@@Z";

}  // namespace status_bridge

#if defined(_MSC_VER)
// Production build: the shared MFC runtime's own string class, checked here
// by clang in MSVC mode against a mock of MFC's headers. Each refusal comes
// before <afx.h>, so that the build stops with its reason.
#if !defined(_AFXDLL)
// The export takes the shared MFC runtime's CStringT (StrTraitMFC_DLL, as its
// decorated name says); without _AFXDLL, CStringA is the static MFC's class.
#error "Build with the shared MFC runtime (CMAKE_MFC_FLAG 2, defines _AFXDLL)"
#endif
#if defined(_DEBUG)
#error \
    "Build the Release configuration: with _DEBUG, <afx.h> links the debug MFC runtime mfc140d.dll, not the mfc140.dll whose CStringT the vendor export takes; and a debug build's assertion dialogs can hang an unattended run"
#endif
#if defined(_UNICODE) || defined(UNICODE)
// Visual Studio's Unicode character set defines both _UNICODE and UNICODE.
#error \
    "Build with the multi-byte character set: with _UNICODE, <afx.h> links the Unicode MFC runtime mfc140u.dll, not the mfc140.dll whose CStringT the vendor export takes"
#endif

// <afx.h>, not <afxstr.h> alone, which compiles only where afx.h has defined
// _AFX; afx.h also links the shared MFC runtime. It refuses a <windows.h>
// included before it (only platform_win32.cpp includes that, and not this
// header). Never <atlstr.h>: its CStringT is another class, under another
// decorated name. No standard header: the MSVC-mode check has none.
#include <afx.h>

namespace reusableBlocks {
enum eReuseBlockType : int {};
}  // namespace reusableBlocks

namespace status_bridge {

using StatusLibraryString = CStringA;
static_assert(sizeof(CStringA) == 4,
              "a 32-bit build: CStringA fills one 4-byte argument slot");
// The block type travels as an int, the enumeration's underlying type: the
// same type as std::int32_t on every Windows target, without <cstdint>.
static_assert(sizeof(int) == 4, "the block type is a 32-bit enumeration");

// The export returns bool; read as one unsigned byte from the same register
// (AL), any non-zero byte counts as true, where a bool would be assumed 0/1.
using IsVerifiedReuseBlockFn = unsigned char(__cdecl*)(
    CStringA, reusableBlocks::eReuseBlockType, const CStringA&);

// Thrown by CallIsVerifiedReuseBlock in place of an MFC exception that it has
// freed; the status query's guard answers it as any other exception.
struct StatusLibraryMfcException {};

// Calls `fn`; the compiler copy-constructs the by-value argument. An MFC
// library throws a heap-allocated CException*, which only its Delete() frees:
// it is freed here, or every throw would leak one for the rest of a server
// run, and the failure goes on to the guard as a StatusLibraryMfcException.
inline bool CallIsVerifiedReuseBlock(IsVerifiedReuseBlockFn fn,
                                     const StatusLibraryString& block_name,
                                     int block_type,
                                     const StatusLibraryString& lmc_file) {
  try {
    return fn(block_name,
              static_cast<reusableBlocks::eReuseBlockType>(block_type),
              lmc_file) != 0;
  } catch (CException* exception) {
    exception->Delete();
  }
  throw StatusLibraryMfcException();
}

}  // namespace status_bridge

#else
// Every other build: the stand-in string runtime, whose string is one
// pointer, passed in the same 4-byte argument slot on 32-bit x86.
#include <cstdint>

#include "standin/cstring_runtime/standin_cstring.h"

namespace status_bridge {

// Owns one stand-in string for the length of a scope, as CStringA would.
class StatusLibraryString {
 public:
  explicit StatusLibraryString(const char* text) {
    StandInCStringConstruct(&value_, text);
  }
  ~StatusLibraryString() { StandInCStringDestroy(&value_); }
  StatusLibraryString(const StatusLibraryString&) = delete;
  StatusLibraryString& operator=(const StatusLibraryString&) = delete;

  const StandInCString* Get() const { return &value_; }

 private:
  StandInCString value_;
};

// The result is declared as one byte so that any non-zero byte reads as true.
using IsVerifiedReuseBlockFn = std::uint8_t (*)(StandInCString, std::int32_t,
                                                const StandInCString*);

// Calls `fn` with a copy of `block_name` that the export then owns and
// destroys, even when it throws.
inline bool CallIsVerifiedReuseBlock(IsVerifiedReuseBlockFn fn,
                                     const StatusLibraryString& block_name,
                                     std::int32_t block_type,
                                     const StatusLibraryString& lmc_file) {
  StandInCString copy;
  StandInCStringCopy(&copy, block_name.Get());
  return fn(copy, block_type, lmc_file.Get()) != 0;
}

}  // namespace status_bridge

#endif
