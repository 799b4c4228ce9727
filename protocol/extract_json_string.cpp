#include "protocol/extract_json_string.h"

#include <cstring>
#include <vector>

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

bool IsBlank(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

// The bytes that open or close a container or separate members.
bool IsStructural(char byte) {
  return byte == ',' || byte == '{' || byte == '[' || byte == '}' ||
         byte == ']';
}

// The index of the quote that closes the string opened by the quote at
// `open`, or line.size() when the line ends first: the first quote with no
// backslash before it in the string, since a backslash hides the byte after
// it. The next quote is looked for again only once a backslash has hidden
// it, so that no byte is searched twice however many backslashes there are.
size_t EndOfString(const std::string& line, size_t open) {
  size_t pos = open + 1;
  size_t quote = line.find('"', pos);
  while (quote != std::string::npos) {
    const void* backslash = std::memchr(line.data() + pos, '\\', quote - pos);
    if (backslash == nullptr) {
      return quote;
    }
    pos =
        static_cast<size_t>(static_cast<const char*>(backslash) - line.data()) +
        2;
    if (pos > quote) {
      quote = line.find('"', pos);
    }
  }
  return line.size();
}

// Sets `value` to the decoded string after the first colon at or after
// `from`, or empties it when no string value can be read there.
void DecodeValueAfter(const std::string& line, size_t from,
                      std::string* value) {
  value->clear();
  size_t open = line.find(':', from);
  if (open == std::string::npos) {
    return;
  }
  while (++open < line.size() && line[open] != '"') {
    if (IsStructural(line[open])) {
      return;  // A number, a literal, an object or an array: no string.
    }
  }
  size_t close = EndOfString(line, open);
  if (close >= line.size()) {
    return;
  }
  // The decoded value is never longer than its text, so one reservation
  // holds it, and a long value is not grown by doubling. The bytes between
  // escapes are copied a run at a time.
  value->reserve(close - open - 1);
  const char* pos = line.data() + open + 1;
  const char* end = line.data() + close;
  for (;;) {
    const auto* backslash = static_cast<const char*>(
        std::memchr(pos, '\\', static_cast<size_t>(end - pos)));
    if (backslash == nullptr) {
      value->append(pos, end);
      return;
    }
    value->append(pos, static_cast<size_t>(backslash - pos));
    int decoded = DecodeEscape(backslash[1]);
    if (decoded < 0) {
      value->clear();
      return;
    }
    value->push_back(static_cast<char>(decoded));
    pos = backslash + 2;
  }
}

}  // namespace

void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count) {
  std::vector<bool> found(count, false);
  size_t missing = count;
  for (size_t i = 0; i < count; ++i) {
    fields[i].value->clear();
  }
  size_t depth = 0;             // Containers open at this point.
  bool name_can_follow = true;  // After `{`, `,` or the line's start.
  for (size_t pos = 0; pos < line.size() && missing > 0; ++pos) {
    char byte = line[pos];
    if (byte == '"') {
      size_t close = EndOfString(line, pos);
      if (name_can_follow && depth <= 1 && close < line.size()) {
        std::string_view name(line.data() + pos + 1, close - pos - 1);
        for (size_t i = 0; i < count; ++i) {
          if (!found[i] && name == fields[i].key) {
            found[i] = true;
            --missing;
            DecodeValueAfter(line, close + 1, fields[i].value);
          }
        }
      }
      pos = close;
      name_can_follow = false;
    } else if (byte == '{') {
      ++depth;
      name_can_follow = true;
    } else if (byte == '[') {
      ++depth;
      name_can_follow = false;
    } else if (byte == '}' || byte == ']') {
      depth -= depth > 0 ? 1 : 0;
      name_can_follow = false;
    } else if (byte == ',') {
      name_can_follow = true;
    } else if (!IsBlank(byte)) {
      name_can_follow = false;
    }
  }
}

std::string ExtractJsonString(const std::string& line, const char* key) {
  std::string value;
  JsonStringField field{key, &value};
  ExtractJsonStrings(line, &field, 1);
  return value;
}

}  // namespace status_bridge
