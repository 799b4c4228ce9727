#pragma once

#include "status_library/loader.h"
#include "streams/standard_streams.h"

// The bridge's run modes, chosen by the first argument alone:
//   (none, or any other)  one-shot: answer one request line
//   --server              answer every line until the input ends
//   --probe-only          load the library, find the export, answer the probe
//   --codec-test          echo three fields of one line; no library
//   --diagnose            a report for a person (doctor/diagnose.h)
//   --help, --version     usage, or the version and the kind of build
// Every answer leaves through `out`, the one writer of the answer channel.
namespace status_bridge {

// The entry point: chooses the run mode and runs it. Returns the process
// exit code.
int RunStatusBridge(int argc, const char* const* argv, AnswerWriter* out);

// Echoes "request_id", "lmc_file" and "block_name" of one line: 0; no line
// 5, a field missing or empty 6, both writing nothing.
int RunCodecSelfTest(AnswerWriter* out);

// Answers one request line with `library`: 0; no line 5, no valid request
// 6, each after releasing the library and writing the error line.
int RunOneShot(const StatusLibrary& library, AnswerWriter* out);

// Answers every request line, in order, with `fn` until the input ends: 0.
int RunServerLoop(IsVerifiedReuseBlockFn fn, AnswerWriter* out);

}  // namespace status_bridge
