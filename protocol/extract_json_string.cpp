#include "protocol/extract_json_string.h"

#include <array>
#include <cstring>

namespace status_bridge {

namespace {

// The byte that each escape `\<letter>` a request may use stands for,
// indexed by the letter; 0 for every other letter.
constexpr std::array<char, 256> kEscapedByte = [] {
  std::array<char, 256> table{};
  table['"'] = '"';
  table['\\'] = '\\';
  table['/'] = '/';
  table['b'] = '\b';
  table['f'] = '\f';
  table['n'] = '\n';
  table['r'] = '\r';
  table['t'] = '\t';
  return table;
}();

// The first `byte` in [from, to), or `to` when there is none.
const char* Find(const char* from, const char* to, char byte) {
  const void* found = std::memchr(from, byte, static_cast<size_t>(to - from));
  return found != nullptr ? static_cast<const char*>(found) : to;
}

bool IsBlank(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r';
}

// The bytes that open or close a container or separate members.
bool IsStructural(char byte) {
  return byte == ',' || byte == '{' || byte == '[' || byte == '}' ||
         byte == ']';
}

// The closing quote of the string opened at `open`: the first quote that no
// backslash hides, or `end` when the line ends first.
const char* ClosingQuote(const char* open, const char* end) {
  const char* quote = open;
  const char* backslashes;  // The run of them before the quote; odd hides it.
  do {
    quote = Find(quote + 1, end, '"');
    backslashes = quote;
    while (backslashes[-1] == '\\') {
      --backslashes;
    }
  } while (quote != end && (quote - backslashes) % 2 != 0);
  return quote;
}

// Sets the empty `value` to the string [text, text_end) decoded a run at a
// time, or leaves it empty when the string holds an unknown escape. Every
// backslash in it is followed by its letter inside it.
void DecodeString(const char* text, const char* text_end, std::string* value) {
  for (;;) {
    const char* backslash = Find(text, text_end, '\\');
    value->append(text, static_cast<size_t>(backslash - text));
    if (backslash == text_end) {
      return;
    }
    char escaped = kEscapedByte[static_cast<unsigned char>(backslash[1])];
    if (escaped == 0) {
      value->clear();
      return;
    }
    value->push_back(escaped);
    text = backslash + 2;
  }
}

// Decodes into `value` the string after the next colon past the key ending
// at `key_end`. Returns where the walk goes on: after the value when only
// plain bytes stood before it, so the value is passed once; else at the key.
const char* ReadValue(const char* key_end, const char* end,
                      std::string* value) {
  // The colon nearly always follows the key at once.
  const char* colon =
      key_end[1] == ':' ? key_end + 1 : Find(key_end + 1, end, ':');
  if (colon == end) {
    return key_end;
  }
  const char* open = colon + 1;
  while (open != end && *open != '"') {
    if (IsStructural(*open)) {
      return key_end;  // A number, a literal, an object or an array.
    }
    ++open;
  }
  if (open == end) {
    return key_end;
  }
  const char* close = ClosingQuote(open, end);
  if (close == end) {
    return key_end;
  }
  DecodeString(open + 1, close, value);
  for (const char* pos = key_end + 1; pos != colon; ++pos) {
    if (*pos == '"' || IsStructural(*pos)) {
      return key_end;
    }
  }
  return close;
}

// The field not yet found whose key stands at `at` with the name's closing
// quote after it (a key holds no quote or backslash).
JsonStringField* FieldNamedAt(const char* at, const char* end,
                              JsonStringField* fields, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    std::string_view key = fields[i].key;
    if (!fields[i].found && key.size() < static_cast<size_t>(end - at) &&
        at[key.size()] == '"' && std::memcmp(at, key.data(), key.size()) == 0) {
      return &fields[i];
    }
  }
  return nullptr;
}

}  // namespace

void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count) {
  for (size_t i = 0; i < count; ++i) {
    fields[i].value->clear();
    fields[i].found = false;
  }
  size_t missing = count;       // Fields not yet found.
  size_t depth = 0;             // Containers open at this point.
  bool name_can_follow = true;  // After `{`, `,` or the line's start.
  const char* end = line.data() + line.size();
  for (const char* pos = line.data(); pos < end && missing > 0; ++pos) {
    char byte = *pos;
    if (byte == '"') {
      JsonStringField* field = name_can_follow && depth <= 1
                                   ? FieldNamedAt(pos + 1, end, fields, count)
                                   : nullptr;
      if (field != nullptr) {
        field->found = true;
        --missing;
        pos = ReadValue(pos + 1 + field->key.size(), end, field->value);
      } else {
        pos = ClosingQuote(pos, end);
        if (pos == end) {
          break;  // The line ends inside the string.
        }
      }
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
