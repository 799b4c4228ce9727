#pragma once

// What the bridge relies on when it calls the vendor's status export:
// reusableBlocks::IsVerifiedReuseBlock, __cdecl, returning bool, taking the
// block name as a narrow MFC CStringT by value, the block type as a 32-bit
// enumeration, and the LMC file as a CStringT by const reference. The caller
// copy-constructs the by-value string in its argument slot; the export
// destroys that copy, so both sides must share one string runtime.

#include <cstdint>

namespace status_bridge {

// The export's MSVC-decorated name, passed to the loader as it stands.
inline constexpr char kIsVerifiedReuseBlockExportName[] =
    "?IsVerifiedReuseBlock@reusableBlocks@@YA_NV?$CStringT@DV?$StrTraitMFC_DLL@"
    "DV?$ChTraitsCRT@D@ATL@@@@@ATL@@W4eReuseBlockType@1@ABV23@@Z";

}  // namespace status_bridge

#if defined(_MSC_VER)
// Production build: the shared MFC runtime's own string class. Not compiled
// by the project's own builds, which have no MFC.
#if !defined(_AFXDLL)
// The export takes the shared MFC runtime's CStringT (StrTraitMFC_DLL, as its
// decorated name says); without _AFXDLL, CStringA is the static MFC's class.
#error "Build with the shared MFC runtime (CMAKE_MFC_FLAG 2, defines _AFXDLL)"
#endif
#include <afxstr.h>

namespace reusableBlocks {
enum eReuseBlockType : int {};
}  // namespace reusableBlocks

namespace status_bridge {

using VendorCString = CStringA;
static_assert(sizeof(CStringA) == 4,
              "a 32-bit build: CStringA fills one 4-byte argument slot");
using IsVerifiedReuseBlockFn = bool(__cdecl*)(CStringA,
                                              reusableBlocks::eReuseBlockType,
                                              const CStringA&);

// Calls `fn`; the compiler copy-constructs the by-value argument.
inline bool CallIsVerifiedReuseBlock(IsVerifiedReuseBlockFn fn,
                                     const VendorCString& block_name,
                                     std::int32_t block_type,
                                     const VendorCString& lmc_file) {
  return fn(block_name,
            static_cast<reusableBlocks::eReuseBlockType>(block_type), lmc_file);
}

}  // namespace status_bridge

#else
// Every other build: the stand-in string runtime, whose string is one
// pointer, passed in the same 4-byte argument slot on 32-bit x86.
#include "standin/cstring_runtime/standin_cstring.h"

namespace status_bridge {

// Owns one stand-in string for the length of a scope, as CStringA would.
class VendorCString {
 public:
  explicit VendorCString(const char* text) {
    StandInCStringConstruct(&value_, text);
  }
  ~VendorCString() { StandInCStringDestroy(&value_); }
  VendorCString(const VendorCString&) = delete;
  VendorCString& operator=(const VendorCString&) = delete;

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
                                     const VendorCString& block_name,
                                     std::int32_t block_type,
                                     const VendorCString& lmc_file) {
  StandInCString copy;
  StandInCStringCopy(&copy, block_name.Get());
  return fn(copy, block_type, lmc_file.Get()) != 0;
}

}  // namespace status_bridge

#endif
