#include "streams/trace.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"

namespace status_bridge {

void Trace(const char* event) {
  if (!SwitchIsOn(kTraceVariable)) {
    return;
  }
  // Every event is a short fixed word: the line is composed on the stack.
  static constexpr char kPrefix[] = "[status-bridge] ";
  char line[96];
  size_t prefix_length = sizeof(kPrefix) - 1;
  size_t event_length = std::strlen(event);
  if (prefix_length + event_length + 1 > sizeof(line)) {
    event_length = sizeof(line) - prefix_length - 1;
  }
  std::copy_n(kPrefix, prefix_length, line);
  std::copy_n(event, event_length, line + prefix_length);
  line[prefix_length + event_length] = '\n';
  constexpr int kStandardError = 2;
  WriteStandardStream(kStandardError, line, prefix_length + event_length + 1);
}

}  // namespace status_bridge
