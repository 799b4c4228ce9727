#include "driver/server_loop.h"

#include <string>

#include "bridge/status_query.h"
#include "driver/exit_codes.h"
#include "driver/line_reader.h"
#include "driver/trace.h"
#include "protocol/answer_lines.h"
#include "protocol/messages.h"

namespace status_bridge {

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
  }
  Trace("server-eof");
  return kExitOk;
}

}  // namespace status_bridge
