#pragma once

#include <string>

namespace status_bridge {

// The fields of one "is_verified" request, as decoded from its line. A server
// reuses one request for every line, so that its strings keep their memory.
struct StatusRequest {
  std::string request_id;
  std::string lmc_file;
  std::string block_name;
  std::string block_type;
};

// Reads the fields of `line` into `request`, overwriting all four, and returns
// whether the line is a valid request: "op" is exactly "is_verified" and
// "request_id", "lmc_file" and "block_name" are non-empty.
bool ParseStatusRequest(const std::string& line, StatusRequest* request);

}  // namespace status_bridge
