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

// The value of `key` in `line` by the extractor's rules. The line is walked
// byte by byte, remembering whether the walk is inside a string, how many
// containers are open and the last byte outside strings that is not a blank
// (a whole string counts as its closing quote). The key counts where its
// quoted text starts a string outside every other, with at most one container
// open and `{`, `,` or nothing as the last such byte. Its value is the string
// after the next colon, read one byte at a time.
inline std::string ReadValueNaively(const std::string& line,
                                    const std::string& key) {
  const std::string quoted = "\"" + key + "\"";
  bool in_string = false;
  int open = 0;
  std::string last;  // Empty until the first such byte.
  size_t pos = 0;
  for (; pos < line.size(); ++pos) {
    char byte = line[pos];
    if (in_string) {
      if (byte == '\\') {
        ++pos;
      } else if (byte == '"') {
        in_string = false;
        last = "\"";
      }
      continue;
    }
    if (byte == '"') {
      if (open <= 1 && (last.empty() || last == "{" || last == ",") &&
          FindNaively(line, quoted, pos) == pos) {
        break;
      }
      in_string = true;
      continue;
    }
    if (byte == '{' || byte == '[') {
      ++open;
    } else if ((byte == '}' || byte == ']') && open > 0) {
      --open;
    }
    if (byte != ' ' && byte != '\t' && byte != '\n' && byte != '\r') {
      last.assign(1, byte);
    }
  }
  if (pos == line.size()) {
    return "";
  }
  pos = FindNaively(line, ":", pos + quoted.size());
  for (++pos; pos < line.size() && line[pos] != '"'; ++pos) {
    if (line[pos] == ',' || line[pos] == '{' || line[pos] == '[' ||
        line[pos] == '}' || line[pos] == ']') {
      return "";
    }
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
  return "";  // No colon, no opening quote or no closing quote.
}

}  // namespace fuzz
