#include "status_library/status_query.h"

#include <string_view>

#include "platform/platform.h"
#include "protocol/answer_lines.h"
#include "protocol/messages.h"
#include "streams/standard_streams.h"

namespace status_bridge {

std::int32_t MapBlockType(const std::string& text) {
  std::string_view word(text);
  if (word.empty() || word == "RULP" || word == "LP") {
    return 0;
  }
  if (word == "RUL") {
    return 1;
  }
  // std::stoi reads with strtol, and throws for no digit or no fit: 0.
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

void AnswerStatusRequest(const StatusRequest& request,
                         IsVerifiedReuseBlockFn fn, std::string* answer) {
  // Whatever the string runtime, the export or the composing throws becomes
  // one error line; unwinding destroys the strings, the LMC file's first,
  // and the by-value copy is the export's once the call has begun.
  try {
    bool verified;
    {
      // The library reads both names in the ANSI code page; a name it
      // cannot hold would name another file or block.
      std::string converted_lmc_file;
      std::string converted_block_name;
      const std::string* lmc_file =
          ConvertToAnsiCodePage(request.lmc_file, &converted_lmc_file);
      const std::string* block_name =
          ConvertToAnsiCodePage(request.block_name, &converted_block_name);
      if (lmc_file == nullptr || block_name == nullptr) {
        ComposeErrorLine(kUnrepresentableTextMessage, answer);
        return;
      }
      StatusLibraryString block_name_string(block_name->c_str());
      StatusLibraryString lmc_file_string(lmc_file->c_str());
      Trace("calling-status-function");
      verified = CallIsVerifiedReuseBlock(fn, block_name_string,
                                          MapBlockType(request.block_type),
                                          lmc_file_string);
      Trace("status-function-returned");
    }
    Trace("cstring-scope-ended");
    ComposeSuccessLine(request, verified, answer);
  } catch (...) {
    ComposeErrorLine(kStatusCallExceptionMessage, answer);
  }
}

bool RunStatusQuery(const std::string& line, StatusRequest* request,
                    IsVerifiedReuseBlockFn fn, AnswerWriter* out) {
  if (!ParseStatusRequest(line, request)) {
    return false;
  }
  AnswerStatusRequest(*request, fn, &out->line);
  WriteAnswerLine(out);
  return true;
}

}  // namespace status_bridge
