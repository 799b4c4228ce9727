#pragma once

namespace status_bridge {

// The --diagnose mode: checks what a first run needs (the library path and
// file, the load with the system's own error, the library's dependencies,
// the export, the opt-in, the ANSI code page, the program's runtime DLLs)
// and writes one plain English line per check to standard output. Never
// calls the private export. Returns 0 when the bridge would serve requests,
// else the exit code of the first stage that fails (2, 3 or 4).
int RunDiagnosis();

}  // namespace status_bridge
