#include "program/mfc_app.h"
#include "program/run_modes.h"
#include "platform/platform.h"
#include "protocol/answer_lines.h"
#include "protocol/exit_codes.h"
#include "protocol/messages.h"
#include "streams/standard_streams.h"

int main(int argc, char** argv) {
  // MFC before anything else, as MFC requires of a console program; its
  // failure is reported once the streams are ready.
  bool mfc_ready = status_bridge::InitializeMfc();
  status_bridge::PrepareProcess();
  // The standard streams stay in the C runtime's default (text) mode. Answer
  // and trace lines leave through the bridge's own write loop, each in one
  // write when it can; request lines come through the line reader's own
  // buffer on standard input.
  status_bridge::StandardStreams streams;
  if (!mfc_ready) {
    status_bridge::WriteErrorLine(status_bridge::kMfcInitFailedMessage);
    return status_bridge::kExitLoadFailed;
  }
  return status_bridge::RunStatusBridge(argc, argv);
}
