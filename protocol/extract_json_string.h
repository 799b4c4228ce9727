#pragma once

#include <cstddef>
#include <string>

namespace status_bridge {

// Returns the decoded value of the first quoted occurrence of `key` in `line`:
// the next JSON string after the colon that follows it, with the escapes
// \" \\ \/ \b \f \n \r \t decoded. Returns an empty string when the key, the
// colon or the opening quote is missing, the value is unterminated, or it holds
// any other escape. Never throws for any content of `line`.
std::string ExtractJsonString(const std::string& line, const char* key);

// A key to read from a line and the string that receives its value.
struct JsonStringField {
  const char* key;
  std::string* value;
};

// Sets the value of each of the `count` fields to what ExtractJsonString
// returns for its key, finding every key in one walk over the line. Values
// are assigned in place, so strings that are reused keep their storage; none
// of them may be `line` itself.
void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count);

}  // namespace status_bridge
