// The MSVC-mode check of status_library/contract.h: tools/check-msvc-build.sh
// compiles this file with clang as MSVC does (--target=i686-pc-windows-msvc,
// _AFXDLL, release, multi-byte) against the MFC mock in standin/mfc_mock, and
// reads the object with llvm-nm. It is never linked and never run.
//
// The export returns a C++ bool, while IsVerifiedReuseBlockFn returns one
// unsigned byte, so that any non-zero byte reads as true. The two types differ
// on purpose and only in the result, so the check splits in two:
// - the export's exact signature: the function below is declared as the
//   vendor declares the export, with the contract's types; its decorated
//   name, which the script compares with the contract's constant, spells its
//   namespace, calling convention, result and parameters;
// - the pointer: the static_assert below derives, from that function's type,
//   the pointer to the same calling convention and parameter list with one
//   unsigned byte as the result, and requires it to be IsVerifiedReuseBlockFn.

#include "status_library/contract.h"

namespace reusableBlocks {

// The vendor's export as the vendor declares it. Only its name and type
// matter here; the body stands in for the vendor's.
bool IsVerifiedReuseBlock(CStringA /*block_name*/, eReuseBlockType block_type,
                          const CStringA& /*lmc_file*/) {
  return block_type != 0;
}

}  // namespace reusableBlocks

namespace {

// No standard library here: the MSVC branch of the header needs none.
template <typename A, typename B>
struct IsSame {
  static constexpr bool kValue = false;
};
template <typename A>
struct IsSame<A, A> {
  static constexpr bool kValue = true;
};

// The pointer to a __cdecl function of type `F` with its result replaced by
// one unsigned byte. Matches only a __cdecl function type.
template <typename F>
struct WithByteResult;
template <typename Result, typename... Parameters>
struct WithByteResult<Result __cdecl(Parameters...)> {
  using Type = unsigned char(__cdecl*)(Parameters...);
};

using Export = decltype(reusableBlocks::IsVerifiedReuseBlock);

static_assert(IsSame<WithByteResult<Export>::Type,
                     status_bridge::IsVerifiedReuseBlockFn>::kValue,
              "IsVerifiedReuseBlockFn must have the export's calling "
              "convention and parameter list, and one unsigned byte as its "
              "result");
static_assert(sizeof(unsigned char) == sizeof(bool),
              "the result byte is as wide as the export's bool");
static_assert(IsSame<status_bridge::StatusLibraryString, CStringA>::kValue,
              "the vendor strings are MFC's CStringA");
static_assert(sizeof(status_bridge::kIsVerifiedReuseBlockExportName) == 134,
              "the decorated name has 133 bytes");

}  // namespace

// Calls the export through the contract's helper, with its address converted
// as the loader converts what GetProcAddress returns. The helper builds the
// by-value copy in the argument slot and catches MFC's exceptions; the script
// checks the references this leaves in the object.
bool CallThroughTheContract(
    const status_bridge::StatusLibraryString& block_name,
    const status_bridge::StatusLibraryString& lmc_file) {
  auto address =
      reinterpret_cast<void (*)()>(&reusableBlocks::IsVerifiedReuseBlock);
  auto fn = reinterpret_cast<status_bridge::IsVerifiedReuseBlockFn>(address);
  return status_bridge::CallIsVerifiedReuseBlock(fn, block_name, 1, lmc_file);
}
