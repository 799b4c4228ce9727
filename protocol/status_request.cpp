#include "protocol/status_request.h"

#include <string_view>

#include "protocol/extract_json_string.h"

namespace status_bridge {

bool ParseStatusRequest(const std::string& line, StatusRequest* request) {
  // "is_verified" fits the string's own storage: reading it allocates nothing.
  std::string op;
  JsonStringField fields[] = {{"op", &op},
                              {"request_id", &request->request_id},
                              {"lmc_file", &request->lmc_file},
                              {"block_name", &request->block_name},
                              {"block_type", &request->block_type}};
  ExtractJsonStrings(line, fields, sizeof(fields) / sizeof(fields[0]));
  return std::string_view{op} == "is_verified" &&
         !request->request_id.empty() && !request->lmc_file.empty() &&
         !request->block_name.empty();
}

}  // namespace status_bridge
