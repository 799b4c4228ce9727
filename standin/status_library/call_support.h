#pragma once

// What the stand-in vendor libraries built with a C++ runtime share, whatever
// their export's string type: the call log, the rules read from the LMC file
// and the unload note. Used by status_export.cpp (the stand-in string
// runtime's export) and status_export_mfc.cpp (MFC's CStringA), so this
// header needs C headers only.

#include <stdint.h>

#include "standin/status_library/lmc_rules.h"

namespace standin {

// Appends the call's record (EmitCallRecord) to the file that the
// environment variable ORVEK_STANDIN_VENDOR_LOG names, when it is set.
void LogCall(const char* block_name, int32_t block_type, const char* lmc_file);

// Writes kStandardOutputNote as the two print outcomes ask: through stdio,
// or to the standard output handle itself.
void PrintNote(Outcome outcome);

// The rule for `block_name` under the rules of the LMC file at `path`; a
// file that cannot be read verifies no block.
Rule RuleFromFile(const char* path, const char* block_name);

// Waits `milliseconds` ("sleep-<milliseconds>").
void Pause(uint32_t milliseconds);

// Waits until the process is killed ("hang").
[[noreturn]] void Hang();

}  // namespace standin
