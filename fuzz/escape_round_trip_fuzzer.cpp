// The escaping round trip: for every byte string s and key k, the error line
// holds s escaped exactly as JSON needs it (LF, CR, quote and backslash, and
// nothing else), so that no value can break an answer line, and the
// extractor reads s back exactly from {"k":"<escaped s>"}.
//
// Input: <key> NUL <s>, or s alone (with the key "k").

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "protocol/answer_lines.h"
#include "protocol/extract_json_string.h"

namespace {

// `text` escaped one byte at a time.
std::string EscapedNaively(const std::string& text) {
  std::string escaped;
  for (char byte : text) {
    switch (byte) {
      case '\n':
        escaped += "\\n";
        break;
      case '\r':
        escaped += "\\r";
        break;
      case '"':
        escaped += "\\\"";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      default:
        escaped.push_back(byte);
    }
  }
  return escaped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string key;
  std::string text;
  fuzz::SplitKeyAndText(data, size, "k", &key, &text);

  std::string escaped = EscapedNaively(text);
  std::string written;
  status_bridge::ComposeErrorLine(text, &written);
  if (written != "{\"ok\":false,\"error\":\"" + escaped + "\"}\n") {
    fuzz::Fail("the error line does not hold the escaped form");
  }

  std::string line = "{\"" + key + "\":\"" + escaped + "\"}";
  if (status_bridge::ExtractJsonString(line, key.c_str()) != text) {
    fuzz::Fail("the value does not read back as it was escaped");
  }
  return 0;
}
