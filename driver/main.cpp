#include <iostream>

#include "driver/status_bridge.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  status_bridge::PrepareProcess();
  // The standard streams stay in the C runtime's default (text) mode. Freed
  // from stdio synchronisation they read and write in blocks; each answer is
  // still flushed as one write.
  std::ios::sync_with_stdio(false);
  // Exhausted memory while reading a line must end the process, not pass for
  // the end of the input.
  std::cin.exceptions(std::ios::badbit);
  return status_bridge::RunStatusBridge(argc, argv);
}
