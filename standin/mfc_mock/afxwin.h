// A minimal mock of MFC's <afxwin.h>, for the MSVC-mode check of the program's
// MFC start (driver/mfc_app_msvc.cpp) only; see afx.h beside it. Written from
// Microsoft's documentation; nothing is copied from MFC's own headers:
// - "AfxWinInit": BOOL AFXAPI AfxWinInit(HINSTANCE hInstance,
//   HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow), declared in
//   afxwin.h; a console program calls it itself and declares a CWinApp;
// - "CWinApp::CWinApp": CWinApp(LPCTSTR lpszAppName = NULL);
// - "GetModuleHandleA" and "GetCommandLineA" (kernel32, WINAPI): without
//   UNICODE, GetModuleHandle and GetCommandLine name these narrow forms.
// MFC's afx.h brings those Win32 declarations through <windows.h>; the mock
// declares the few that the entry code uses. WINAPI and AFXAPI are __stdcall.
#ifndef STATUS_BRIDGE_MFC_MOCK_AFXWIN_H_
#define STATUS_BRIDGE_MFC_MOCK_AFXWIN_H_

#include <afx.h>

typedef int BOOL;
#define FALSE 0
#define TRUE 1
struct HINSTANCE__ {
  int unused;
};
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef wchar_t* LPWSTR;
typedef const wchar_t* LPCWSTR;

extern "C" {
__declspec(dllimport) HMODULE __stdcall GetModuleHandleA(LPCSTR module_name);
__declspec(dllimport) HMODULE __stdcall GetModuleHandleW(LPCWSTR module_name);
__declspec(dllimport) LPSTR __stdcall GetCommandLineA();
__declspec(dllimport) LPWSTR __stdcall GetCommandLineW();
}

#ifdef UNICODE
typedef LPWSTR LPTSTR;
typedef LPCWSTR LPCTSTR;
#define GetModuleHandle GetModuleHandleW
#define GetCommandLine GetCommandLineW
#else
typedef LPSTR LPTSTR;
typedef LPCSTR LPCTSTR;
#define GetModuleHandle GetModuleHandleA
#define GetCommandLine GetCommandLineA
#endif

#define AFXAPI __stdcall

BOOL AFXAPI AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance,
                       LPTSTR lpCmdLine, int nCmdShow);

// The application object. Declared, not defined: the check compiles, it does
// not link.
class CWinApp : public CObject {
 public:
  CWinApp(
      LPCTSTR lpszAppName = nullptr);  // NOLINT(google-explicit-constructor)
  ~CWinApp() override;
};

#endif  // STATUS_BRIDGE_MFC_MOCK_AFXWIN_H_
