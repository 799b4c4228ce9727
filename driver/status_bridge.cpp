#include "driver/status_bridge.h"

#include <cstring>
#include <optional>
#include <string>

#include "bridge/status_library.h"
#include "bridge/status_query.h"
#include "diagnose/diagnose.h"
#include "driver/server_loop.h"
#include "process/exit_codes.h"
#include "process/line_reader.h"
#include "protocol/answer_lines.h"
#include "protocol/extract_json_string.h"
#include "protocol/status_request.h"

namespace status_bridge {

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

int RunStatusBridge(int argc, const char* const* argv) {
  const char* mode = argc >= 2 ? argv[1] : "";
  if (std::strcmp(mode, "--codec-test") == 0) {
    return RunCodecSelfTest();
  }
  if (std::strcmp(mode, "--diagnose") == 0) {
    return RunDiagnosis();
  }
  bool probe = std::strcmp(mode, "--probe-only") == 0;
  bool server = std::strcmp(mode, "--server") == 0;

  StatusLibrary library;
  if (std::optional<int> exit_code = LoadStatusLibrary(probe, &library)) {
    return *exit_code;
  }
  if (server) {
    return RunServerLoop(library.fn);
  }
  return RunOneShot(library.module, library.fn);
}

}  // namespace status_bridge
