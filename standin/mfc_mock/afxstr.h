// A minimal mock of MFC's <afxstr.h>, for the MSVC-mode check of
// status_library/contract.h only (see afx.h beside it). Written from
// Microsoft's documentation and from the vendor export's decorated name;
// nothing is copied from MFC's own headers:
// - "CStringT Class": template <typename BaseType, class StringTraits>
//   class CStringT, in namespace ATL, with ChTraitsCRT as the character
//   traits of a string class that uses the C runtime;
// - "CSimpleStringT::GetString", which CStringT inherits: the string's
//   characters, NUL-terminated;
// - the export's decorated name spells the string class
//   ATL::CStringT<char, StrTraitMFC_DLL<char, ATL::ChTraitsCRT<char>>>, with
//   StrTraitMFC_DLL in the global namespace: the narrow CStringA of the
//   shared MFC runtime (_AFXDLL).
// Like MFC's, it refuses to compile unless afx.h has defined _AFX.
#ifndef STATUS_BRIDGE_MFC_MOCK_AFXSTR_H_
#define STATUS_BRIDGE_MFC_MOCK_AFXSTR_H_

#ifndef _AFX
#error "mock afxstr.h: can only be used in MFC projects (include <afx.h>)"
#endif

namespace ATL {

template <typename BaseType>
class ChTraitsCRT {};

// The members are declared, not defined: the check compiles, it does not
// link. One pointer, as the contract header's static_assert expects of the
// real class on a 32-bit build.
template <typename BaseType, class StringTraits>
class CStringT {
 public:
  CStringT(const BaseType* text);  // NOLINT(google-explicit-constructor)
  CStringT(const CStringT& source);
  CStringT& operator=(const CStringT& source);
  ~CStringT();

  const BaseType* GetString() const;

 private:
  BaseType* data_;
};

}  // namespace ATL

template <typename BaseType, class StringIterator>
class StrTraitMFC_DLL {};

#ifdef _AFXDLL
using CStringA =
    ATL::CStringT<char, StrTraitMFC_DLL<char, ATL::ChTraitsCRT<char>>>;
#else
// The static MFC library's string class is another one; the contract header
// refuses a build without _AFXDLL before it gets here.
#endif

#endif  // STATUS_BRIDGE_MFC_MOCK_AFXSTR_H_
