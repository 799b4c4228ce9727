#pragma once

#include "streams/standard_streams.h"

namespace status_bridge {

// The --diagnose mode: checks what a first run needs (the library path and
// file, the load with the system's own error, the library's dependencies,
// the export, the private call's switch, the ANSI code page, the program's
// runtime DLLs) and writes one plain English line per check through `out`.
// Reads only the PE headers of the library's file, and nothing of a path
// that is not a regular file. Never makes the private call. Returns 0 when
// the bridge would serve requests, else the exit code of the first stage
// that fails (2, 3 or 4).
int RunDiagnosis(AnswerWriter* out);

}  // namespace status_bridge
