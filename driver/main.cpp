#include "driver/standard_streams.h"
#include "driver/status_bridge.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  status_bridge::PrepareProcess();
  // The standard streams stay in the C runtime's default (text) mode. Answer
  // and trace lines leave through the bridge's own write loop, each in one
  // write when it can; request lines come through the line reader's own
  // buffer on standard input.
  status_bridge::StandardStreams streams;
  return status_bridge::RunStatusBridge(argc, argv);
}
