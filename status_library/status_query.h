#pragma once

#include <cstdint>
#include <string>

#include "protocol/status_request.h"
#include "status_library/contract.h"
#include "streams/standard_streams.h"

namespace status_bridge {

// Maps a request's block type to the export's value: "RULP", "LP" and empty
// give 0, "RUL" gives 1, anything else the leading base-10 number as strtol
// reads it, or 0 when there is none or it lies outside the 32-bit range.
std::int32_t MapBlockType(const std::string& text);

// Answers the valid `request` with `fn`, leaving in `answer` the success
// line, or one error line when a name has no form in the ANSI code page or
// anything is thrown. Returns normally whatever the export throws.
void AnswerStatusRequest(const StatusRequest& request,
                         IsVerifiedReuseBlockFn fn, std::string* answer);

// Parses `line` into `request`, whose memory it reuses, answers it with `fn`
// and writes the answer; false, writing nothing, for an invalid request.
bool RunStatusQuery(const std::string& line, StatusRequest* request,
                    IsVerifiedReuseBlockFn fn, AnswerWriter* out);

}  // namespace status_bridge
