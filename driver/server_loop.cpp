#include "driver/server_loop.h"

#include <cstddef>
#include <string>

#include "bridge/status_query.h"
#include "process/exit_codes.h"
#include "process/line_reader.h"
#include "process/trace.h"
#include "protocol/answer_lines.h"
#include "protocol/messages.h"

namespace status_bridge {

namespace {

// The most line buffer memory the loop keeps from one line to the next.
constexpr size_t kKeptLineCapacity = size_t{1} << 20;

}  // namespace

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
