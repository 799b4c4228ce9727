// The MFC start of the production build. A console program has no MFC
// WinMain, so it declares the application object and calls AfxWinInit first:
// MFC's module state, resource handle and activation context, in which the
// status library, an MFC library, runs. <afxwin.h> first: its <afx.h>
// refuses an earlier <windows.h>.
#include <afxwin.h>

#include "program/mfc_app.h"

namespace {

// The one application object MFC expects beside an own AfxWinInit.
CWinApp application;

}  // namespace

namespace status_bridge {

bool InitializeMfc() {
  return AfxWinInit(::GetModuleHandle(nullptr), nullptr, ::GetCommandLine(),
                    0) != FALSE;
}

}  // namespace status_bridge
