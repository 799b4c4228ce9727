#include "program/run_modes.h"

#include <cstddef>
#include <cstring>
#include <string>

#include "doctor/diagnose.h"
#include "protocol/answer_lines.h"
#include "protocol/exit_codes.h"
#include "protocol/extract_json_string.h"
#include "protocol/messages.h"
#include "protocol/status_request.h"
#include "streams/line_reader.h"
#include "streams/trace.h"
#include "status_library/status_query.h"

namespace status_bridge {

namespace {

// The most line buffer memory the server keeps from one line to the next.
constexpr size_t kKeptLineCapacity = size_t{1} << 20;

}  // namespace

int RunStatusBridge(int argc, const char* const* argv) {
  const char* mode = argc >= 2 ? argv[1] : "";
  if (std::strcmp(mode, "--codec-test") == 0) {
    return RunCodecSelfTest();
  }
  if (std::strcmp(mode, "--diagnose") == 0) {
    return RunDiagnosis();
  }

  StatusLibrary library = LoadStatusLibrary();
  if (library.load == StatusLibraryLoad::kLoadFailed) {
    WriteErrorLine(kLoadFailedMessage + library.path);
    return kExitLoadFailed;
  }
  if (library.load == StatusLibraryLoad::kExportMissing) {
    WriteErrorLine(kExportMissingMessage);
    return kExitExportMissing;
  }
  // Each release comes before the line that ends the run, so a caller that
  // sees the line may at once replace or remove the library file.
  if (std::strcmp(mode, "--probe-only") == 0) {
    ReleaseLibrary(library.module);
    WriteProbeLine();
    return kExitOk;
  }
  if (!PrivateCallEnabled()) {
    ReleaseLibrary(library.module);
    WriteErrorLine(kPrivateCallDisabledMessage);
    return kExitPrivateCallDisabled;
  }
  // The library stays loaded until the process ends.
  if (std::strcmp(mode, "--server") == 0) {
    return RunServerLoop(library.fn);
  }
  return RunOneShot(library);
}

int RunCodecSelfTest() {
  std::string line;
  if (!ReadRequestLine(&line)) {
    return kExitNoRequest;
  }
  StatusRequest request;
  request.request_id = ExtractJsonString(line, "request_id");
  request.lmc_file = ExtractJsonString(line, "lmc_file");
  request.block_name = ExtractJsonString(line, "block_name");
  if (request.request_id.empty() || request.lmc_file.empty() ||
      request.block_name.empty()) {
    return kExitInvalidRequest;
  }
  WriteEchoLine(request);
  return kExitOk;
}

int RunOneShot(const StatusLibrary& library) {
  Trace("waiting-for-request");
  std::string line;
  if (!ReadRequestLine(&line)) {
    ReleaseLibrary(library.module);
    WriteErrorLine(kMissingRequestMessage);
    return kExitNoRequest;
  }
  Trace("request-parsed");
  StatusRequest request;
  if (!ParseStatusRequest(line, &request)) {
    ReleaseLibrary(library.module);
    WriteErrorLine(kInvalidRequestMessage);
    return kExitInvalidRequest;
  }
  // The line is parsed once, and its fields now live in `request`, so the
  // line's memory goes before the call.
  std::string().swap(line);
  AnswerStatusRequest(request, library.fn);
  return kExitOk;
}

int RunServerLoop(IsVerifiedReuseBlockFn fn) {
  Trace("server-ready");
  // One buffer serves every line, so a run of ordinary requests does not
  // allocate for its lines.
  std::string line;
  while (ReadRequestLine(&line)) {
    if (line.empty()) {
      WriteErrorLine(kEmptyRequestMessage);
    } else {
      RunStatusQuery(line, fn);
    }
    // After a line far longer than usual the buffer gives its memory back,
    // so that one huge request does not hold it for the rest of the run.
    if (line.capacity() > kKeptLineCapacity) {
      std::string().swap(line);
    }
  }
  Trace("server-eof");
  return kExitOk;
}

}  // namespace status_bridge
