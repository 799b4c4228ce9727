#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace status_bridge {

// A key to read from a line, the string that receives its value, and
// whether the key was found.
struct JsonStringField {
  std::string_view key;
  std::string* value;
  bool found = false;
};

// Sets the value of each of the `count` fields, whose keys differ, to its
// key's decoded value in `line`, in one forward walk that decodes each value
// as it passes it; a value's memory is reused, and may not be `line`'s.
//
// A quoted key counts only as a member name at the outermost level: outside
// every string (backslash escapes honoured), inside at most one open `{` or
// `[`, and preceded, blanks aside, by `{`, `,` or the line's start; the first
// such occurrence counts. Its value is the JSON string after the next colon,
// with \" \\ \/ \b \f \n \r \t decoded. It is empty when the colon or the
// opening quote is missing, when a `,` `{` `[` `}` or `]` stands between them
// (no string), or when the string is unterminated or holds another escape.
void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count);

// The value of one key, read by the rules of ExtractJsonStrings.
std::string ExtractJsonString(const std::string& line, const char* key);

}  // namespace status_bridge
