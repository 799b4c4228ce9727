#pragma once

#include <string>
#include <string_view>

#include "protocol/status_request.h"

namespace status_bridge {

// Writes `text` at `to` as the inside of a quoted value and returns the end,
// at most twice its length on: LF, CR, quote and backslash become two-byte
// escapes; every other byte, NUL and non-ASCII included, is kept.
char* EscapeJson(std::string_view text, char* to);

// Each replaces `line`, whose memory it reuses, with one answer line and LF.

// {"ok":false,"error":"<message>"}
void ComposeErrorLine(std::string_view message, std::string* line);

// The answer to `request`, whose status call returned `verified`. It echoes
// the request's own bytes.
void ComposeSuccessLine(const StatusRequest& request, bool verified,
                        std::string* line);

// The codec self-test's echo of the request's id, LMC file and block name.
void ComposeEchoLine(const StatusRequest& request, std::string* line);

// The probe mode's fixed answer.
void ComposeProbeLine(std::string* line);

}  // namespace status_bridge
