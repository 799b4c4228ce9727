#include "protocol/extract_json_string.h"

#include <cstring>

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

// The first `byte` in [from, end), or `end` when there is none.
const char* Find(const char* from, const char* end, char byte) {
  const void* found = std::memchr(from, byte, static_cast<size_t>(end - from));
  return found == nullptr ? end : static_cast<const char*>(found);
}

// The first occurrence of `"<key>"` in [begin, end), or `end`. Every
// occurrence begins with a quote, so the quotes are tried in order.
const char* FindQuotedKey(const char* begin, const char* end, const char* key,
                          size_t key_length) {
  for (const char* quote = Find(begin, end, '"'); quote != end;
       quote = Find(quote + 1, end, '"')) {
    if (static_cast<size_t>(end - quote) >= key_length + 2 &&
        std::memcmp(quote + 1, key, key_length) == 0 &&
        quote[key_length + 1] == '"') {
      return quote;
    }
  }
  return end;
}

}  // namespace

std::string ExtractJsonString(const std::string& line, const char* key) {
  // Searched in place with memchr: no copy of the pattern, and each stretch
  // of the line is scanned a bounded number of times however long it is.
  const char* end = line.data() + line.size();
  size_t key_length = std::strlen(key);
  const char* key_at = FindQuotedKey(line.data(), end, key, key_length);
  if (key_at == end) {
    return std::string();
  }
  const char* colon = Find(key_at + key_length + 2, end, ':');
  if (colon == end) {
    return std::string();
  }
  const char* open_quote = Find(colon + 1, end, '"');
  if (open_quote == end) {
    return std::string();
  }

  std::string value;
  const char* pos = open_quote + 1;
  // The next quote and the next backslash at or after `pos`; each is looked
  // for again only once `pos` has passed it.
  const char* next_quote = Find(pos, end, '"');
  const char* next_backslash = Find(pos, end, '\\');
  for (;;) {
    if (next_quote < pos) {
      next_quote = Find(pos, end, '"');
    }
    if (next_backslash < pos) {
      next_backslash = Find(pos, end, '\\');
    }
    // Copy the plain run up to the next quote or backslash in one piece.
    const char* special = next_quote < next_backslash ? next_quote
                                                      : next_backslash;
    if (special == end) {
      return std::string();  // The line ends inside the value.
    }
    value.append(pos, static_cast<size_t>(special - pos));
    if (*special == '"') {
      return value;
    }
    if (special + 1 == end) {
      return std::string();  // A backslash as the line's last byte.
    }
    int decoded = DecodeEscape(special[1]);
    if (decoded < 0) {
      return std::string();
    }
    value.push_back(static_cast<char>(decoded));
    pos = special + 2;
  }
}

}  // namespace status_bridge
