#include "platform/platform.h"
#include "program/mfc_app.h"
#include "program/run_modes.h"
#include "protocol/exit_codes.h"
#include "protocol/messages.h"
#include "streams/answer_writer.h"

int main(int argc, char** argv) {
  // MFC before anything else, as MFC requires of a console program; its
  // failure is reported once the answer channel is ready.
  bool mfc_ready = status_bridge::InitializeMfc();
  status_bridge::PrepareProcess();
  // From here on only the bridge writes to the answer channel; what the
  // library prints to standard output goes to standard error.
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
