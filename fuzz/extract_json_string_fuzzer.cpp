// Fuzzes ExtractJsonString over arbitrary lines and keys and compares every
// result with a plain byte-by-byte reading of the same rules, written without
// any of the searches the product uses.
//
// Input: <key> NUL <line>, or a line alone (read with the key "request_id").

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_input.h"
#include "fuzz/naive_json_reader.h"
#include "protocol/extract_json_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string key;
  std::string line;
  fuzz::SplitKeyAndText(data, size, "request_id", &key, &line);
  std::string value = status_bridge::ExtractJsonString(line, key.c_str());
  if (value != fuzz::ReadValueNaively(line, key)) {
    fuzz::Fail("ExtractJsonString differs from the byte-by-byte reading");
  }
  return 0;
}
