#include "protocol/status_request.h"

#include "protocol/extract_json_string.h"

namespace status_bridge {

bool ParseStatusRequest(const std::string& line, StatusRequest* request) {
  std::string op = ExtractJsonString(line, "op");
  request->lmc_file = ExtractJsonString(line, "lmc_file");
  request->block_name = ExtractJsonString(line, "block_name");
  request->block_type = ExtractJsonString(line, "block_type");
  request->request_id = ExtractJsonString(line, "request_id");
  return op == "is_verified" && !request->request_id.empty() &&
         !request->lmc_file.empty() && !request->block_name.empty();
}

}  // namespace status_bridge
