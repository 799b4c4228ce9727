#include "protocol/escape_json.h"

namespace status_bridge {

namespace {

// For each byte value, the second byte of its escape, or NUL when the byte
// passes unchanged.
struct EscapeTable {
  char letter[256] = {};
  constexpr EscapeTable() {
    letter[static_cast<unsigned char>('\n')] = 'n';
    letter[static_cast<unsigned char>('\r')] = 'r';
    letter[static_cast<unsigned char>('"')] = '"';
    letter[static_cast<unsigned char>('\\')] = '\\';
  }
};
constexpr EscapeTable kEscapes;

}  // namespace

void AppendEscapedJson(const std::string& text, std::string* out) {
  // Copy runs of plain bytes in one piece; only four byte values break a run.
  const char* run = text.data();
  const char* end = run + text.size();
  for (const char* p = run; p != end; ++p) {
    char letter = kEscapes.letter[static_cast<unsigned char>(*p)];
    if (letter == '\0') {
      continue;
    }
    out->append(run, static_cast<size_t>(p - run));
    out->push_back('\\');
    out->push_back(letter);
    run = p + 1;
  }
  out->append(run, static_cast<size_t>(end - run));
}

std::string EscapeJson(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  AppendEscapedJson(text, &escaped);
  return escaped;
}

}  // namespace status_bridge
