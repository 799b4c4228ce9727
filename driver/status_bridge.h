#pragma once

namespace status_bridge {

// Reads one request line and writes the echo of its "request_id", "lmc_file"
// and "block_name". Returns 0 after the echo, 5 when there is no line and 6
// when a field is missing or empty; the failures write nothing.
int RunCodecSelfTest();

// The entry point: chooses the run mode from the first argument alone and
// runs it. Returns the process exit code.
int RunStatusBridge(int argc, const char* const* argv);

}  // namespace status_bridge
