#include <iostream>

#include "driver/status_bridge.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  status_bridge::PrepareProcess();
  // The standard streams stay in the C runtime's default (text) mode. Freed
  // from stdio synchronisation they write in blocks; each answer is still
  // flushed as one write. Request lines come through the line reader's own
  // buffer on standard input.
  std::ios::sync_with_stdio(false);
  return status_bridge::RunStatusBridge(argc, argv);
}
