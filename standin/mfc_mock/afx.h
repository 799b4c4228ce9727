// A minimal mock of MFC's <afx.h>, for the MSVC-mode check of
// status_library/contract.h and of the MFC stand-in vendor library only
// (tests/scripts/check-msvc-build.sh). It is not MFC, it is never part of a
// build, and it declares only what those sources use. Written from Microsoft's
// documentation; nothing is copied from MFC's own headers:
// - "MFC Library Versions" (automatic linking): afx.h picks the MFC library
//   from _AFXDLL, _DEBUG and _UNICODE with #pragma comment(lib, ...);
// - "Naming Conventions for MFC DLLs": MFCx0.DLL is the ANSI (multi-byte)
//   release DLL, MFCx0D the debug one, MFCx0U the Unicode one (x0 is 140 for
//   Visual Studio 2015 to 2022); each import library has the DLL's base name;
// - "CException Class": MFC throws pointers to CException objects, which the
//   catcher frees with CException::Delete, never with delete;
// - "AfxThrowNotSupportedException" (afx.h): void AFXAPI
//   AfxThrowNotSupportedException(), which throws a CNotSupportedException;
//   AFXAPI is __stdcall.
// Two rules of MFC's headers that a build must meet, kept here too: afx.h
// defines _AFX, which afxstr.h requires, and it refuses a <windows.h>
// included before it (<windows.h> defines _WINDOWS_ as its include guard).
#ifndef STATUS_BRIDGE_MFC_MOCK_AFX_H_
#define STATUS_BRIDGE_MFC_MOCK_AFX_H_

#ifdef _WINDOWS_
#error "mock afx.h: <windows.h> was included before <afx.h>; MFC refuses that"
#endif

#define _AFX

#ifdef _AFXDLL
#if defined(_UNICODE) && defined(_DEBUG)
#pragma comment(lib, "mfc140ud.lib")
#elif defined(_UNICODE)
#pragma comment(lib, "mfc140u.lib")
#elif defined(_DEBUG)
#pragma comment(lib, "mfc140d.lib")
#else
#pragma comment(lib, "mfc140.lib")
#endif
#endif

// The base of MFC's exceptions, as far as a catcher needs it. The members are
// declared, not defined: the check compiles, it does not link.
class CObject {
 public:
  virtual ~CObject();
};

class CException : public CObject {
 public:
  // Frees the exception object if it was allocated on the heap.
  void Delete();
};

#ifndef AFXAPI
#define AFXAPI __stdcall
#endif

void AFXAPI AfxThrowNotSupportedException();

#include <afxstr.h>

#endif  // STATUS_BRIDGE_MFC_MOCK_AFX_H_
