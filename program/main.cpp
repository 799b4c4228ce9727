#include "platform/platform.h"
#include "program/mfc_app.h"
#include "program/run_modes.h"
#include "protocol/exit_codes.h"
#include "protocol/messages.h"
#include "streams/standard_streams.h"

int main(int argc, char** argv) {
  // MFC first, as it requires; its failure is reported once answers can be.
  bool mfc_ready = status_bridge::InitializeMfc();
  status_bridge::PrepareProcess();
  // Only the bridge writes answers; what the library prints goes elsewhere.
  status_bridge::AnswerWriter out;
  out.descriptor = status_bridge::SeparateAnswerChannel();
  // Room for every error line, so that none needs memory when it is written.
  out.line.reserve(1024);
  if (!mfc_ready) {
    status_bridge::WriteErrorLine(&out, status_bridge::kMfcInitFailedMessage);
    return status_bridge::kExitLoadFailed;
  }
  return status_bridge::RunStatusBridge(argc, argv, &out);
}
