// The MFC start of the production build (shared MFC, MSVC). A console program
// has no MFC-supplied WinMain, so it declares the application object and
// calls AfxWinInit itself, before anything else. That sets up MFC's module
// state and resource handle for the process and creates its activation
// context from the program's manifest; the vendor library, an MFC library,
// runs inside that state.
//
// <afxwin.h> comes first: it includes <afx.h>, which refuses a <windows.h>
// included before it.
#include <afxwin.h>

#include "program/mfc_app.h"

namespace {

// The one application object that MFC expects beside an own AfxWinInit; the
// bridge uses it directly and derives nothing from it.
CWinApp application;

}  // namespace

namespace status_bridge {

bool InitializeMfc() {
  return AfxWinInit(::GetModuleHandle(nullptr), nullptr, ::GetCommandLine(),
                    0) != FALSE;
}

}  // namespace status_bridge
