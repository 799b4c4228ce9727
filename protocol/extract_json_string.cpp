#include "protocol/extract_json_string.h"

namespace status_bridge {

namespace {

// The byte that the escape `\<letter>` stands for, or -1 when it is not one
// of the escapes a request may use.
int DecodeEscape(char letter) {
  switch (letter) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return '\b';
    case 'f':
      return '\f';
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return -1;
  }
}

}  // namespace

std::string ExtractJsonString(const std::string& line, const char* key) {
  std::string pattern;
  pattern.reserve(64);
  pattern.push_back('"');
  pattern.append(key);
  pattern.push_back('"');

  size_t key_at = line.find(pattern);
  if (key_at == std::string::npos) {
    return std::string();
  }
  size_t colon_at = line.find(':', key_at + pattern.size());
  if (colon_at == std::string::npos) {
    return std::string();
  }
  size_t open_quote_at = line.find('"', colon_at + 1);
  if (open_quote_at == std::string::npos) {
    return std::string();
  }

  std::string value;
  size_t pos = open_quote_at + 1;
  for (;;) {
    // Copy the plain run up to the next quote or backslash in one piece.
    size_t special_at = line.find_first_of("\"\\", pos);
    if (special_at == std::string::npos) {
      return std::string();  // The line ends inside the value.
    }
    value.append(line, pos, special_at - pos);
    if (line[special_at] == '"') {
      return value;
    }
    if (special_at + 1 == line.size()) {
      return std::string();  // A backslash as the line's last byte.
    }
    int decoded = DecodeEscape(line[special_at + 1]);
    if (decoded < 0) {
      return std::string();
    }
    value.push_back(static_cast<char>(decoded));
    pos = special_at + 2;
  }
}

}  // namespace status_bridge
