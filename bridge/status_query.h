#pragma once

#include <cstdint>
#include <string>

#include "bridge/vendor_contract.h"
#include "platform/platform.h"

namespace status_bridge {

// Maps a request's block type to the export's value: "RULP", "LP" and empty
// give 0, "RUL" gives 1, anything else the leading base-10 number as strtol
// reads it, or 0 when there is none or it lies outside the 32-bit range.
std::int32_t MapBlockType(const std::string& text);

// Answers one request line: validates it, calls `fn` with the request's
// strings and writes exactly one answer line, the success line or an error
// line. Returns normally whatever the export throws.
void RunStatusQuery(const std::string& line, IsVerifiedReuseBlockFn fn);

// Reads and answers the one request of a one-shot run. Returns 0 once it is
// answered; 5 when there is no line and 6 when the line is not a valid
// request, in both cases after releasing `module` and writing the error line.
int RunOneShot(ModuleHandle module, IsVerifiedReuseBlockFn fn);

}  // namespace status_bridge
