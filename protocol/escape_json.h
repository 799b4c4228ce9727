#pragma once

#include <cstddef>
#include <string>

namespace status_bridge {

// Returns `text` with each LF, CR, double quote and backslash replaced by its
// two-byte JSON escape; every other byte, NUL and non-ASCII included, is kept.
std::string EscapeJson(const std::string& text);

// For each byte value, the letter that follows the backslash in its escape,
// or NUL when the byte is kept as it is.
struct JsonEscapeTable {
  char letter[256] = {};
  constexpr JsonEscapeTable() {
    letter[static_cast<unsigned char>('\n')] = 'n';
    letter[static_cast<unsigned char>('\r')] = 'r';
    letter[static_cast<unsigned char>('"')] = '"';
    letter[static_cast<unsigned char>('\\')] = '\\';
  }
};
inline constexpr JsonEscapeTable kJsonEscapes;

// Calls `emit(data, size)` with the escaped form of `text` (as EscapeJson) in
// successive pieces, none empty: runs of kept bytes and two-byte escapes.
template <typename Emit>
void ForEachEscapedPiece(const std::string& text, Emit&& emit) {
  const char* run = text.data();
  const char* end = run + text.size();
  for (const char* p = run; p != end; ++p) {
    char letter = kJsonEscapes.letter[static_cast<unsigned char>(*p)];
    if (letter == '\0') {
      continue;
    }
    if (p != run) {
      emit(run, static_cast<size_t>(p - run));
    }
    const char escape[2] = {'\\', letter};
    emit(escape, sizeof(escape));
    run = p + 1;
  }
  if (end != run) {
    emit(run, static_cast<size_t>(end - run));
  }
}

}  // namespace status_bridge
