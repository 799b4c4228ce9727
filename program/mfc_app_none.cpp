#include "program/mfc_app.h"

namespace status_bridge {

// Builds with the stand-in string runtime have no MFC to initialise.
bool InitializeMfc() { return true; }

}  // namespace status_bridge
