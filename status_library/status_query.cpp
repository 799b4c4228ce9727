#include "status_library/status_query.h"

#include "platform/platform.h"
#include "protocol/answer_lines.h"
#include "protocol/messages.h"
#include "streams/trace.h"

namespace status_bridge {

std::int32_t MapBlockType(const std::string& text) {
  if (text == "RULP" || text == "LP" || text.empty()) {
    return 0;
  }
  if (text == "RUL") {
    return 1;
  }
  // std::stoi reads with strtol and throws when no digit can be read or the
  // number does not fit; both cases map to 0.
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

void AnswerStatusRequest(const StatusRequest& request,
                         IsVerifiedReuseBlockFn fn) {
  // Whatever is thrown from here on, by the string runtime, the export or the
  // answer writer, becomes one error line. The strings that exist are
  // destroyed by unwinding, the LMC-file string first; the by-value copy
  // belongs to the export once the call has begun.
  try {
    // The vendor reads both names in the machine's ANSI code page; a name it
    // cannot hold there would make it look for another file or block.
    std::string converted_lmc_file;
    std::string converted_block_name;
    const std::string* ansi_lmc_file =
        ConvertToAnsiCodePage(request.lmc_file, &converted_lmc_file);
    const std::string* ansi_block_name =
        ConvertToAnsiCodePage(request.block_name, &converted_block_name);
    if (ansi_lmc_file == nullptr || ansi_block_name == nullptr) {
      WriteErrorLine(kUnrepresentableTextMessage);
      return;
    }
    bool verified;
    {
      StatusLibraryString block_name(ansi_block_name->c_str());
      StatusLibraryString lmc_file(ansi_lmc_file->c_str());
      // The vendor strings hold their own copies: a long converted name is
      // not held once more during the call.
      std::string().swap(converted_block_name);
      std::string().swap(converted_lmc_file);
      Trace("calling-status-function");
      std::int32_t block_type = MapBlockType(request.block_type);
      verified = CallIsVerifiedReuseBlock(fn, block_name, block_type, lmc_file);
      Trace("status-function-returned");
    }
    Trace("cstring-scope-ended");
    WriteSuccessLine(request, verified);
  } catch (...) {
    WriteErrorLine(kStatusCallExceptionMessage);
  }
}

void RunStatusQuery(const std::string& line, IsVerifiedReuseBlockFn fn) {
  StatusRequest request;
  if (!ParseStatusRequest(line, &request)) {
    WriteErrorLine(kInvalidRequestMessage);
    return;
  }
  AnswerStatusRequest(request, fn);
}

}  // namespace status_bridge
