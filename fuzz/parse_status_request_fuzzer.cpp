// Fuzzes ParseStatusRequest over arbitrary lines. Its fields and its verdict
// must be what a byte-by-byte reading of each key gives; the success and echo
// lines written for what it read must each be exactly one line in which a
// JSON reader finds, member by member, the request's values.
//
// Input: the request line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/naive_json_reader.h"
#include "protocol/answer_lines.h"
#include "protocol/status_request.h"

namespace {

using Members = std::vector<std::pair<std::string, std::string>>;

// Reads the JSON string that starts at line[*pos] (a quote) into `value` and
// moves *pos past it. Any byte but the quote and the backslash stands for
// itself, as the answer writer leaves it.
bool ReadString(const std::string& line, size_t* pos, std::string* value) {
  if (*pos >= line.size() || line[*pos] != '"') {
    return false;
  }
  value->clear();
  for (size_t i = *pos + 1; i < line.size(); ++i) {
    if (line[i] == '"') {
      *pos = i + 1;
      return true;
    }
    if (line[i] != '\\') {
      value->push_back(line[i]);
      continue;
    }
    if (++i == line.size()) {
      return false;
    }
    switch (line[i]) {
      case '"':
      case '\\':
      case '/':
        value->push_back(line[i]);
        break;
      case 'n':
        value->push_back('\n');
        break;
      case 'r':
        value->push_back('\r');
        break;
      default:
        return false;
    }
  }
  return false;
}

// Reads `line` as one object {"key":value,...} whose values are strings or
// bare words; false when it is not one.
bool ReadMembers(const std::string& line, Members* members) {
  if (line.size() < 2 || line.front() != '{' || line.back() != '}') {
    return false;
  }
  size_t pos = 1;
  for (;;) {
    std::string key;
    std::string value;
    if (!ReadString(line, &pos, &key) || pos >= line.size() ||
        line[pos] != ':') {
      return false;
    }
    ++pos;
    if (pos < line.size() && line[pos] == '"') {
      if (!ReadString(line, &pos, &value)) {
        return false;
      }
    } else {
      while (pos < line.size() && line[pos] != ',' && line[pos] != '}') {
        value.push_back(line[pos++]);
      }
    }
    members->emplace_back(key, value);
    if (pos + 1 == line.size()) {
      return line[pos] == '}';
    }
    if (line[pos] != ',') {
      return false;
    }
    ++pos;
  }
}

// Checks that `written` is one line holding exactly `expected`.
void CheckAnswer(const std::string& written, const Members& expected,
                 const char* what) {
  if (written.empty() || written.back() != '\n' ||
      written.find_first_of("\r\n") != written.size() - 1) {
    fuzz::Fail(what);
  }
  Members members;
  if (!ReadMembers(written.substr(0, written.size() - 1), &members) ||
      members != expected) {
    fuzz::Fail(what);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  status_bridge::StatusRequest request{"stale", "stale", "stale", "stale"};
  bool valid = status_bridge::ParseStatusRequest(line, &request);

  const struct {
    const char* key;
    const std::string& value;
    bool required;
  } fields[] = {{"request_id", request.request_id, true},
                {"lmc_file", request.lmc_file, true},
                {"block_name", request.block_name, true},
                {"block_type", request.block_type, false}};
  bool complete = fuzz::ReadValueNaively(line, "op") == "is_verified";
  for (const auto& field : fields) {
    std::string value = fuzz::ReadValueNaively(line, field.key);
    if (value != field.value) {
      fuzz::Fail("a field is not what a byte-by-byte reading gives");
    }
    if (field.required && value.empty()) {
      complete = false;
    }
  }
  if (valid != complete) {
    fuzz::Fail("the verdict does not follow from the fields");
  }

  for (bool verified : {false, true}) {
    std::string written;
    status_bridge::ComposeSuccessLine(request, verified, &written);
    CheckAnswer(written,
                {{"ok", "true"},
                 {"request_id", request.request_id},
                 {"block_name", request.block_name},
                 {"lmc_file", request.lmc_file},
                 {"status", verified ? "READY" : "PENDING"},
                 {"source", "IsVerifiedReuseBlock"},
                 {"raw_status", verified ? "1" : "0"}},
                "the success line does not hold the request's values");
  }
  std::string echo;
  status_bridge::ComposeEchoLine(request, &echo);
  CheckAnswer(echo,
              {{"request_id", request.request_id},
               {"lmc_file", request.lmc_file},
               {"block_name", request.block_name}},
              "the echo line does not hold the request's values");
  return 0;
}
