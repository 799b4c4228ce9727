#pragma once

namespace status_bridge {

// Initialises MFC for the process, as a console program must (MFC's own
// WinMain does not run). The first call of main. Returns false when MFC
// could not be initialised; builds without MFC return true.
bool InitializeMfc();

}  // namespace status_bridge
