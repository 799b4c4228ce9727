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

// Whether `"<key>"` starts at `quote`, which points at a quote before `end`.
bool QuotedKeyAt(const char* quote, const char* end, const char* key,
                 size_t key_length) {
  return static_cast<size_t>(end - quote) >= key_length + 2 &&
         std::memcmp(quote + 1, key, key_length) == 0 &&
         quote[key_length + 1] == '"';
}

// Sets `value` to the decoded JSON string that follows the next colon after
// `from`, or empties it when there is none or it cannot be read.
void DecodeValueAfter(const char* from, const char* end, std::string* value) {
  value->clear();
  const char* colon = Find(from, end, ':');
  if (colon == end) {
    return;
  }
  const char* open_quote = Find(colon + 1, end, '"');
  if (open_quote == end) {
    return;
  }
  const char* pos = open_quote + 1;
  // The value ends at the first quote that no backslash escapes, so only the
  // stretch before the next quote is searched for a backslash, and the next
  // quote is looked for again only once an escaped quote has been passed:
  // no byte is scanned twice.
  const char* next_quote = Find(pos, end, '"');
  // Reserving the stretch to the next quote never exceeds the raw text, and a
  // value without an escaped quote then grows no more.
  if (next_quote != end) {
    value->reserve(static_cast<size_t>(next_quote - pos));
  }
  for (;;) {
    if (next_quote < pos) {
      next_quote = Find(pos, end, '"');
    }
    if (next_quote == end) {
      value->clear();  // The line ends inside the value.
      return;
    }
    // Copy the plain run up to the next backslash or the quote in one piece.
    const char* backslash = Find(pos, next_quote, '\\');
    value->append(pos, static_cast<size_t>(backslash - pos));
    if (backslash == next_quote) {
      return;
    }
    // A quote follows the backslash, so the escape's letter is in the line.
    int decoded = DecodeEscape(backslash[1]);
    if (decoded < 0) {
      value->clear();  // A foreign escape.
      return;
    }
    value->push_back(static_cast<char>(decoded));
    pos = backslash + 2;
  }
}

}  // namespace

void ExtractJsonStrings(const std::string& line, JsonStringField* fields,
                        size_t count) {
  constexpr size_t kGroup = 8;  // Keys handled in one walk: one bit each.
  for (; count > kGroup; fields += kGroup, count -= kGroup) {
    ExtractJsonStrings(line, fields, kGroup);
  }
  const char* end = line.data() + line.size();
  // Every occurrence of `"<key>"` begins with a quote, so one walk over the
  // quotes finds the first occurrence of every key. At each quote only the
  // keys whose first byte follows it are compared.
  unsigned char keys_by_first_byte[256] = {};
  const char* key_at[kGroup] = {};
  size_t key_length[kGroup] = {};
  unsigned missing = 0;
  for (size_t i = 0; i < count; ++i) {
    key_at[i] = end;
    key_length[i] = std::strlen(fields[i].key);
    // An empty key is the pattern "", whose second byte is a quote.
    char first = key_length[i] == 0 ? '"' : fields[i].key[0];
    keys_by_first_byte[static_cast<unsigned char>(first)] |= 1u << i;
    missing |= 1u << i;
  }
  for (const char* quote = Find(line.data(), end, '"');
       quote != end && missing != 0; quote = Find(quote + 1, end, '"')) {
    if (quote + 1 == end) {
      break;
    }
    unsigned candidates =
        keys_by_first_byte[static_cast<unsigned char>(quote[1])] & missing;
    for (size_t i = 0; i < count && candidates != 0; ++i, candidates >>= 1) {
      if ((candidates & 1u) != 0 &&
          QuotedKeyAt(quote, end, fields[i].key, key_length[i])) {
        key_at[i] = quote;
        missing &= ~(1u << i);
      }
    }
  }
  for (size_t i = 0; i < count; ++i) {
    if (key_at[i] == end) {
      fields[i].value->clear();
    } else {
      DecodeValueAfter(key_at[i] + key_length[i] + 2, end, fields[i].value);
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
