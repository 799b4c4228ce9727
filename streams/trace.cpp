#include "streams/trace.h"

#include <algorithm>
#include <cstring>
#include <iostream>

#include "platform/platform.h"

namespace status_bridge {

void Trace(const char* event) {
  if (ReadPathVariable(kTraceVariable) != "1") {
    return;
  }
  // Composed on the stack so that tracing allocates nothing (the value "1"
  // fits in the string itself); every event is a short fixed word.
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
  std::cerr.write(
      line, static_cast<std::streamsize>(prefix_length + event_length + 1));
  std::cerr.flush();
}

}  // namespace status_bridge
