#pragma once

#include "status_library/loader.h"
#include "streams/answer_writer.h"

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

// Reads one request line and writes the echo of its "request_id", "lmc_file"
// and "block_name". Returns 0 after the echo, 5 when there is no line and 6
// when a field is missing or empty; the failures write nothing.
int RunCodecSelfTest(AnswerWriter* out);

// Reads and answers the one request of a one-shot run with the loaded
// `library`. Returns 0 once it is answered; 5 when there is no line and 6
// when the line is not a valid request, in both cases after releasing the
// library and writing the error line.
int RunOneShot(const StatusLibrary& library, AnswerWriter* out);

// Answers request lines from standard input with `fn`, one answer line per
// input line and in input order, until the input ends. Returns 0.
int RunServerLoop(IsVerifiedReuseBlockFn fn, AnswerWriter* out);

}  // namespace status_bridge
