#pragma once

#include <string>

#include "protocol/status_request.h"

namespace status_bridge {

// Each writer below hands one whole answer line, ended by LF, to standard
// output and flushes it; a line of up to 16 KiB leaves in one call. Writing a
// line allocates nothing, so no exception can cut one short. Write failures
// are not reported.

// Writes {"ok":false,"error":"<message>"}.
void WriteErrorLine(const std::string& message);

// Writes the answer to `request`, whose status call returned `verified`. It
// echoes the request's own bytes.
void WriteSuccessLine(const StatusRequest& request, bool verified);

// Writes the codec self-test's echo of the request's id, LMC file and block
// name.
void WriteEchoLine(const StatusRequest& request);

// Writes the probe mode's fixed answer.
void WriteProbeLine();

}  // namespace status_bridge
