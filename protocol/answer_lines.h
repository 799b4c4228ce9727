#pragma once

#include <string>

namespace status_bridge {

// Each writer below hands one whole answer line, ended by LF, to standard
// output and flushes it; a line of up to 16 KiB leaves in one call. Writing a
// line allocates nothing, so no exception can cut one short. Write failures
// are not reported.

// Writes {"ok":false,"error":"<message>"}.
void WriteErrorLine(const std::string& message);

// Writes the answer for a request whose status call returned `verified`.
void WriteSuccessLine(const std::string& request_id,
                      const std::string& block_name,
                      const std::string& lmc_file, bool verified);

// Writes the codec self-test's echo of three request fields.
void WriteEchoLine(const std::string& request_id, const std::string& lmc_file,
                   const std::string& block_name);

// Writes the probe mode's fixed answer.
void WriteProbeLine();

}  // namespace status_bridge
