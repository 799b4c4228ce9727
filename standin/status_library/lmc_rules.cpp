#include "standin/status_library/lmc_rules.h"

namespace standin {

namespace {

bool BytesEqual(const char* a, size_t a_length, const char* b,
                size_t b_length) {
  if (a_length != b_length) {
    return false;
  }
  for (size_t i = 0; i < a_length; ++i) {
    if (a[i] != b[i]) {
      return false;
    }
  }
  return true;
}

bool WordIs(const char* word, size_t length, const char* expected) {
  size_t expected_length = 0;
  while (expected[expected_length] != '\0') {
    ++expected_length;
  }
  return BytesEqual(word, length, expected, expected_length);
}

// Reads the digits after "sleep-" in `word`; false unless they are one or
// more decimal digits worth at most kMaxSleepMilliseconds.
bool ParseSleep(const char* word, size_t length, uint32_t* milliseconds) {
  constexpr char kPrefix[] = "sleep-";
  constexpr size_t kPrefixLength = sizeof(kPrefix) - 1;
  if (length <= kPrefixLength ||
      !BytesEqual(word, kPrefixLength, kPrefix, kPrefixLength)) {
    return false;
  }
  uint32_t value = 0;
  for (size_t i = kPrefixLength; i < length; ++i) {
    if (word[i] < '0' || word[i] > '9') {
      return false;
    }
    value = value * 10 + static_cast<uint32_t>(word[i] - '0');
    if (value > kMaxSleepMilliseconds) {
      return false;
    }
  }
  *milliseconds = value;
  return true;
}

// Reads an outcome word; false when it is none of them.
bool ParseOutcome(const char* word, size_t length, Rule* rule) {
  Outcome* outcome = &rule->outcome;
  rule->milliseconds = 0;
  if (ParseSleep(word, length, &rule->milliseconds)) {
    *outcome = Outcome::kSleep;
  } else if (WordIs(word, length, "hang")) {
    *outcome = Outcome::kHang;
  } else if (WordIs(word, length, "verified")) {
    *outcome = Outcome::kVerified;
  } else if (WordIs(word, length, "verified-2")) {
    *outcome = Outcome::kVerifiedTwo;
  } else if (WordIs(word, length, "not-verified")) {
    *outcome = Outcome::kNotVerified;
  } else if (WordIs(word, length, "throw-class")) {
    *outcome = Outcome::kThrowClass;
  } else if (WordIs(word, length, "throw-int")) {
    *outcome = Outcome::kThrowInt;
  } else if (WordIs(word, length, "crash")) {
    *outcome = Outcome::kCrash;
  } else if (WordIs(word, length, "print-stdio")) {
    *outcome = Outcome::kPrintStdio;
  } else if (WordIs(word, length, "print-handle")) {
    *outcome = Outcome::kPrintHandle;
  } else {
    return false;
  }
  return true;
}

// Applies one rule line; true when it decides the outcome for `block_name`.
bool MatchRule(const char* line, size_t length, const char* block_name,
               size_t name_length, Rule* rule) {
  if (length > 0 && line[length - 1] == '\r') {
    --length;
  }
  if (length == 0 || line[0] == '#') {
    return false;
  }
  size_t blank = 0;
  while (blank < length && line[blank] != ' ') {
    ++blank;
  }
  if (blank == length) {
    return false;
  }
  const char* name = line + blank + 1;
  size_t rule_name_length = length - blank - 1;
  bool matches = WordIs(name, rule_name_length, "*") ||
                 BytesEqual(name, rule_name_length, block_name, name_length);
  return matches && ParseOutcome(line, blank, rule);
}

void EmitEncoded(const char* text, Emit emit, void* context) {
  static const char kHex[] = "0123456789ABCDEF";
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char byte = static_cast<unsigned char>(*p);
    if (byte >= '!' && byte <= '~' && byte != '%') {
      emit(p, 1, context);
    } else {
      char escaped[3] = {'%', kHex[byte >> 4], kHex[byte & 0xF]};
      emit(escaped, 3, context);
    }
  }
}

void EmitLiteral(const char* text, Emit emit, void* context) {
  size_t length = 0;
  while (text[length] != '\0') {
    ++length;
  }
  emit(text, length, context);
}

}  // namespace

Rule FindRule(const char* text, size_t length, const char* block_name) {
  size_t name_length = 0;
  while (block_name[name_length] != '\0') {
    ++name_length;
  }
  size_t line_start = 0;
  while (line_start < length) {
    size_t line_end = line_start;
    while (line_end < length && text[line_end] != '\n') {
      ++line_end;
    }
    Rule rule;
    if (MatchRule(text + line_start, line_end - line_start, block_name,
                  name_length, &rule)) {
      return rule;
    }
    line_start = line_end + 1;
  }
  return Rule{Outcome::kNotVerified, 0};
}

void EmitCallRecord(const char* block_name, int32_t block_type,
                    const char* lmc_file, Emit emit, void* context) {
  EmitLiteral("name=", emit, context);
  EmitEncoded(block_name, emit, context);
  EmitLiteral(" type=", emit, context);
  // Decimal digits of the block type, written without a C runtime.
  char digits[12];
  size_t count = 0;
  uint32_t magnitude = block_type < 0 ? 0u - static_cast<uint32_t>(block_type)
                                      : static_cast<uint32_t>(block_type);
  do {
    digits[sizeof(digits) - 1 - count] =
        static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++count;
  } while (magnitude != 0);
  if (block_type < 0) {
    digits[sizeof(digits) - 1 - count] = '-';
    ++count;
  }
  emit(digits + sizeof(digits) - count, count, context);
  EmitLiteral(" lmc=", emit, context);
  EmitEncoded(lmc_file, emit, context);
  EmitLiteral("\n", emit, context);
}

}  // namespace standin
