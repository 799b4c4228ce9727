#pragma once

// The request reader's rules read one byte at a time, without any of the
// searches the product uses: the oracle the fuzzers compare the product with.

#include <cstddef>
#include <string>

namespace fuzz {

// The byte that `\<letter>` stands for, or -1 outside the escape table.
inline int Unescape(char letter) {
  switch (letter) {
    case '"':
      return '"';
    case '\\':
      return '\\';
    case '/':
      return '/';
    case 'b':
      return 0x08;
    case 'f':
      return 0x0C;
    case 'n':
      return 0x0A;
    case 'r':
      return 0x0D;
    case 't':
      return 0x09;
    default:
      return -1;
  }
}

// The first index at or after `from` where `pattern` starts in `line`, or
// line.size() when there is none; compared byte by byte.
inline size_t FindNaively(const std::string& line, const std::string& pattern,
                          size_t from) {
  for (size_t start = from; start + pattern.size() <= line.size(); ++start) {
    size_t matched = 0;
    while (matched < pattern.size() &&
           line[start + matched] == pattern[matched]) {
      ++matched;
    }
    if (matched == pattern.size()) {
      return start;
    }
  }
  return line.size();
}

// The value of `key` in `line` by the extractor's rules: the key's first
// quoted occurrence, searched afresh from the first byte, then the string
// after the next colon, decoded one byte at a time.
inline std::string ReadValueNaively(const std::string& line,
                                    const std::string& key) {
  size_t pos = FindNaively(line, "\"" + key + "\"", 0);
  if (pos == line.size()) {
    return "";
  }
  pos += key.size() + 2;
  pos = FindNaively(line, ":", pos);
  if (pos == line.size()) {
    return "";
  }
  pos = FindNaively(line, "\"", pos + 1);
  if (pos == line.size()) {
    return "";
  }
  std::string value;
  for (++pos; pos < line.size(); ++pos) {
    char byte = line[pos];
    if (byte == '"') {
      return value;
    }
    if (byte != '\\') {
      value.push_back(byte);
      continue;
    }
    if (pos + 1 == line.size()) {
      return "";
    }
    int decoded = Unescape(line[++pos]);
    if (decoded < 0) {
      return "";
    }
    value.push_back(static_cast<char>(decoded));
  }
  return "";  // No closing quote.
}

}  // namespace fuzz
