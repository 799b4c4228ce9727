#pragma once

// How the fuzzers cut one input into a key and a text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// Splits `data` at its first NUL byte: the bytes before it become `key` (a key
// is a NUL-terminated text, so it can hold no NUL) and the bytes after it
// `text`. Without a NUL, `key` is `default_key` and `text` is all of `data`.
// A key is a member name as the bridge's keys are: a quote or a backslash in
// it is dropped, since either would end or escape the quoted name.
inline void SplitKeyAndText(const uint8_t* data, size_t size,
                            const char* default_key, std::string* key,
                            std::string* text) {
  const char* bytes = reinterpret_cast<const char*>(data);
  std::string input(bytes, size);
  size_t nul = input.find('\0');
  if (nul == std::string::npos) {
    *key = default_key;
    *text = input;
    return;
  }
  key->clear();
  for (char byte : input.substr(0, nul)) {
    if (byte != '"' && byte != '\\') {
      key->push_back(byte);
    }
  }
  *text = input.substr(nul + 1);
}

// Reports a broken property and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
