#pragma once

#include <string>

namespace status_bridge {

// Each writer below composes one whole answer line, then writes it with its LF
// to standard output in one piece and flushes, so that an answer is never
// split or interleaved. Write failures are not detected.

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
