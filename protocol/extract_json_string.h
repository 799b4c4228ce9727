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

// Sets the value of each of the `count` fields, whose keys differ, to the
// decoded value of its key in `line`, in one forward walk over the line that
// decodes each value as it passes it.
//
// A quoted key counts only as a member name at the outermost level: outside
// every string (backslash escapes honoured), inside at most one open `{` or
// `[`, and preceded, blanks aside, by `{`, `,` or the start of the line. The
// first such occurrence counts. Its value is the JSON string after the next
// colon, with the escapes \" \\ \/ \b \f \n \r \t decoded.
//
// The value is empty when the colon or the opening quote is missing, when a
// `,` `{` `[` `}` or `]` stands between the colon and that quote (the value
// is no string), when the string is unterminated, or when it holds any other
// escape. Never throws for any content of `line` but std::bad_alloc; none of
// the values may be `line` itself. A value's memory is reused.
void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count);

// The value of one key, read by the rules of ExtractJsonStrings.
std::string ExtractJsonString(const std::string& line, const char* key);

}  // namespace status_bridge
