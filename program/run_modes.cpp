#include "program/run_modes.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "doctor/diagnose.h"
#include "protocol/answer_lines.h"
#include "protocol/exit_codes.h"
#include "protocol/extract_json_string.h"
#include "protocol/messages.h"
#include "protocol/status_request.h"
#include "status_library/status_query.h"
#include "streams/standard_streams.h"

namespace status_bridge {

namespace {

// The most memory the server keeps for its line, request and answer from
// one request to the next.
constexpr size_t kKeptLineCapacity = size_t{1} << 20;

constexpr char kUsage[] =
    "usage: status-bridge [--server | --probe-only | --codec-test | "
    "--diagnose | --help | --version]\n"
    "Answers JSON request lines on standard input: one without an argument, "
    "every line with --server.\n"
    "Library: LMCDLL70_PATH, or SDD_HOME; ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE=1 "
    "enables the private call; ORVEK_STATUS_BRIDGE_TRACE=1 traces to "
    "standard error.\n";

// Releases the library, then writes the line that ends the run: a caller that
// sees the line may at once replace or remove the library file.
int EndEarly(ModuleHandle module, AnswerWriter* out, const char* message,
             int exit_code) {
  ReleaseLibrary(module);
  WriteErrorLine(out, message);
  return exit_code;
}

}  // namespace

int RunStatusBridge(int argc, const char* const* argv, AnswerWriter* out) {
  std::string_view mode = argc >= 2 ? argv[1] : "";
  if (mode == "--codec-test") {
    return RunCodecSelfTest(out);
  }
  if (mode == "--help") {
    out->line = kUsage;
    WriteAnswerLine(out);
    return kExitOk;
  }
  if (mode == "--version") {
    out->line = std::string("status-bridge ") + STATUS_BRIDGE_VERSION + " (" +
                STATUS_BRIDGE_BUILD + ", " + std::to_string(sizeof(void*) * 8) +
                "-bit)\n";
    WriteAnswerLine(out);
    return kExitOk;
  }
  if (mode == "--diagnose") {
    return RunDiagnosis(out);
  }

  const char* variable = nullptr;  // Which gave the path; the doctor says.
  StatusLibrary library =
      LoadStatusLibrary(ResolveStatusLibraryPath(&variable));
  if (library.load == StatusLibraryLoad::kLoadFailed) {
    WriteErrorLine(out, kLoadFailedMessage + library.path);
    return kExitLoadFailed;
  }
  if (library.load == StatusLibraryLoad::kExportMissing) {
    return EndEarly(library.module, out, kExportMissingMessage,
                    kExitExportMissing);
  }
  if (mode == "--probe-only") {
    ReleaseLibrary(library.module);
    ComposeProbeLine(&out->line);
    WriteAnswerLine(out);
    return kExitOk;
  }
  if (!PrivateCallEnabled()) {
    return EndEarly(library.module, out, kPrivateCallDisabledMessage,
                    kExitPrivateCallDisabled);
  }
  // The library stays loaded until the process ends.
  if (mode == "--server") {
    return RunServerLoop(library.fn, out);
  }
  return RunOneShot(library, out);
}

int RunCodecSelfTest(AnswerWriter* out) {
  LineInput input;
  std::string line;
  if (!ReadRequestLine(&input, &line)) {
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
  ComposeEchoLine(request, &out->line);
  WriteAnswerLine(out);
  return kExitOk;
}

int RunOneShot(const StatusLibrary& library, AnswerWriter* out) {
  Trace("waiting-for-request");
  LineInput input;
  std::string line;
  if (!ReadRequestLine(&input, &line)) {
    return EndEarly(library.module, out, kMissingRequestMessage,
                    kExitNoRequest);
  }
  Trace("request-parsed");
  StatusRequest request;
  if (!RunStatusQuery(line, &request, library.fn, out)) {
    return EndEarly(library.module, out, kInvalidRequestMessage,
                    kExitInvalidRequest);
  }
  return kExitOk;
}

int RunServerLoop(IsVerifiedReuseBlockFn fn, AnswerWriter* out) {
  Trace("server-ready");
  // One line, one request and one answer serve every line, so that a run of
  // ordinary requests allocates nothing.
  LineInput input;
  std::string line;
  StatusRequest request;
  while (ReadRequestLine(&input, &line)) {
    if (line.empty()) {
      WriteErrorLine(out, kEmptyRequestMessage);
    } else if (!RunStatusQuery(line, &request, fn, out)) {
      WriteErrorLine(out, kInvalidRequestMessage);
    }
    // After a line far longer than usual its memory goes back, so that one
    // huge request does not hold it for the rest of the run.
    if (line.capacity() > kKeptLineCapacity) {
      std::string().swap(line);
      std::string().swap(out->line);
      StatusRequest empty;
      std::swap(request, empty);
    }
  }
  Trace("server-eof");
  return kExitOk;
}

}  // namespace status_bridge
