#pragma once

#include <string>

namespace status_bridge {

// Returns the decoded value of the first quoted occurrence of `key` in `line`:
// the next JSON string after the colon that follows it, with the escapes
// \" \\ \/ \b \f \n \r \t decoded. Returns an empty string when the key, the
// colon or the opening quote is missing, the value is unterminated, or it holds
// any other escape. Never throws for any content of `line`.
std::string ExtractJsonString(const std::string& line, const char* key);

}  // namespace status_bridge
