// The escaping round trip: for every byte string s and key k, the extractor
// reads s back exactly from {"k":"<EscapeJson(s)>"}, and the escaped form
// holds neither LF nor CR, so that no value can break an answer line. The
// answer writer, which escapes piece by piece, writes the same escaped form.
//
// Input: <key> NUL <s>, or s alone (with the key "k").

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/answer_lines.h"
#include "protocol/escape_json.h"
#include "protocol/extract_json_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string key;
  std::string text;
  fuzz::SplitKeyAndText(data, size, "k", &key, &text);

  std::string escaped = status_bridge::EscapeJson(text);
  if (escaped.find_first_of("\n\r") != std::string::npos) {
    fuzz::Fail("the escaped form holds a line end");
  }
  size_t escapes = 0;
  for (char byte : text) {
    escapes += byte == '\n' || byte == '\r' || byte == '"' || byte == '\\';
  }
  if (escaped.size() != text.size() + escapes) {
    fuzz::Fail("the escaped form is not one byte longer per escaped byte");
  }
  std::stringbuf written;
  std::streambuf* out = std::cout.rdbuf(&written);
  status_bridge::WriteErrorLine(text);
  std::cout.rdbuf(out);
  if (written.str() != "{\"ok\":false,\"error\":\"" + escaped + "\"}\n") {
    fuzz::Fail("the error line does not hold the escaped form");
  }

  std::string line = "{\"" + key + "\":\"" + escaped + "\"}";
  if (status_bridge::ExtractJsonString(line, key.c_str()) != text) {
    fuzz::Fail("the value does not read back as it was escaped");
  }
  return 0;
}
