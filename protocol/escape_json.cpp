#include "protocol/escape_json.h"

namespace status_bridge {

namespace {

// The second byte of the escape for `byte`, or NUL when it passes unchanged.
char EscapeLetter(char byte) {
  switch (byte) {
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '"':
      return '"';
    case '\\':
      return '\\';
    default:
      return '\0';
  }
}

}  // namespace

void AppendEscapedJson(const std::string& text, std::string* out) {
  // Copy runs of plain bytes in one piece; only four byte values break a run.
  size_t run_start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char letter = EscapeLetter(text[i]);
    if (letter == '\0') {
      continue;
    }
    out->append(text, run_start, i - run_start);
    out->push_back('\\');
    out->push_back(letter);
    run_start = i + 1;
  }
  out->append(text, run_start, std::string::npos);
}

std::string EscapeJson(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  AppendEscapedJson(text, &escaped);
  return escaped;
}

}  // namespace status_bridge
