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

// Walks the string opened at `open` and returns the index of its closing
// quote, the first no backslash hides, or line.size() when the line ends
// first. `value`, when given, receives the string decoded a run at a time,
// or nothing when it is unterminated or holds an unknown escape.
size_t WalkString(const std::string& line, size_t open, std::string* value) {
  const char* data = line.data();
  const char* end = data + line.size();
  const char* pos = data + open + 1;
  const char* quote = Find(pos, end, '"');
  bool decoding = value != nullptr;
  while (quote != end) {
    const char* backslash = Find(pos, quote, '\\');
    if (decoding) {
      value->append(pos, static_cast<size_t>(backslash - pos));
    }
    if (backslash == quote) {
      return static_cast<size_t>(quote - data);
    }
    if (decoding) {
      char escaped = kEscapedByte[static_cast<unsigned char>(backslash[1])];
      decoding = escaped != 0;
      if (decoding) {
        value->push_back(escaped);
      } else {
        value->clear();
      }
    }
    pos = backslash + 2;
    if (pos > quote) {
      quote = Find(pos, end, '"');
    }
  }
  if (value != nullptr) {
    value->clear();
  }
  return line.size();
}

// Decodes into `value` the string after the next colon past the key ending
// at `key_end`. Returns where the walk goes on: after the value when only
// plain bytes stood before it, so the value is passed once; else at the key.
size_t ReadValue(const std::string& line, size_t key_end, std::string* value) {
  const char* data = line.data();
  // The colon nearly always follows the key at once.
  size_t colon =
      line[key_end + 1] == ':'
          ? key_end + 1
          : static_cast<size_t>(
                Find(data + key_end + 1, data + line.size(), ':') - data);
  if (colon == line.size()) {
    return key_end;
  }
  size_t open = colon + 1;
  while (open < line.size() && line[open] != '"') {
    if (IsStructural(line[open])) {
      return key_end;  // A number, a literal, an object or an array.
    }
    ++open;
  }
  if (open == line.size()) {
    return key_end;
  }
  size_t close = WalkString(line, open, value);
  if (close == line.size()) {
    return key_end;
  }
  for (size_t pos = key_end + 1; pos < colon; ++pos) {
    if (line[pos] == '"' || IsStructural(line[pos])) {
      return key_end;
    }
  }
  return close;
}

// The field from `first` on, not yet found, whose key stands at `at` with
// the name's closing quote after it (a key holds no quote or backslash).
JsonStringField* FieldNamedAt(const std::string& line, size_t at,
                              JsonStringField* fields, size_t first,
                              size_t count) {
  for (size_t i = first; i < count; ++i) {
    std::string_view key = fields[i].key;
    if (!fields[i].found && at + key.size() < line.size() &&
        line[at + key.size()] == '"' &&
        std::memcmp(line.data() + at, key.data(), key.size()) == 0) {
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
  size_t first_missing = 0;     // No field before it is missing.
  size_t depth = 0;             // Containers open at this point.
  bool name_can_follow = true;  // After `{`, `,` or the line's start.
  for (size_t pos = 0; pos < line.size() && first_missing < count; ++pos) {
    char byte = line[pos];
    if (byte == '"') {
      JsonStringField* field =
          name_can_follow && depth <= 1
              ? FieldNamedAt(line, pos + 1, fields, first_missing, count)
              : nullptr;
      if (field != nullptr) {
        field->found = true;
        while (first_missing < count && fields[first_missing].found) {
          ++first_missing;
        }
        pos = ReadValue(line, pos + 1 + field->key.size(), field->value);
      } else {
        pos = WalkString(line, pos, nullptr);
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
