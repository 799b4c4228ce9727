#include "protocol/answer_lines.h"

#include <array>
#include <cstring>

namespace status_bridge {

namespace {

// The letter of each byte's two-byte escape, indexed by the byte; 0 for the
// bytes that are kept as they are.
constexpr std::array<char, 256> kEscapeLetter = [] {
  std::array<char, 256> table{};
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['"'] = '"';
  table['\\'] = '\\';
  return table;
}();

}  // namespace

namespace {

// Writes `text` escaped at `to`, which has room for twice its length, a run
// of kept bytes at a time; returns the end of what it wrote.
char* PutEscaped(std::string_view text, char* to) {
  const char* pos = text.data();
  const char* end = pos + text.size();
  for (;;) {
    const char* run = pos;
    while (pos != end && kEscapeLetter[static_cast<unsigned char>(*pos)] == 0) {
      ++pos;
    }
    std::memcpy(to, run, static_cast<size_t>(pos - run));
    to += pos - run;
    if (pos == end) {
      return to;
    }
    *to++ = '\\';
    *to++ = kEscapeLetter[static_cast<unsigned char>(*pos)];
    ++pos;
  }
}

// Writes the literal `text` at `to`; returns the end of what it wrote.
template <size_t kSize>
char* Put(const char (&text)[kSize], char* to) {
  std::memcpy(to, text, kSize - 1);
  return to + kSize - 1;
}

}  // namespace

void EscapeJson(std::string_view text, std::string* out) {
  size_t at = out->size();
  out->resize(at + 2 * text.size());
  char* end = PutEscaped(text, &(*out)[at]);
  out->resize(static_cast<size_t>(end - out->data()));
}

void ComposeErrorLine(std::string_view message, std::string* line) {
  line->assign("{\"ok\":false,\"error\":\"");
  EscapeJson(message, line);
  line->append("\"}\n");
}

void ComposeSuccessLine(const StatusRequest& request, bool verified,
                        std::string* line) {
  static constexpr char kHead[] = "{\"ok\":true,\"request_id\":\"";
  static constexpr char kBlockName[] = "\",\"block_name\":\"";
  static constexpr char kLmcFile[] = "\",\"lmc_file\":\"";
  static constexpr char kReady[] =
      "\",\"status\":\"READY\",\"source\":\"IsVerifiedReuseBlock\","
      "\"raw_status\":1}\n";
  static constexpr char kPending[] =
      "\",\"status\":\"PENDING\",\"source\":\"IsVerifiedReuseBlock\","
      "\"raw_status\":0}\n";
  // Room for every value byte escaped, so that the line is sized once and
  // each value is read once; it is cut to what was written at the end.
  line->resize(sizeof(kHead) + sizeof(kBlockName) + sizeof(kLmcFile) +
               sizeof(kPending) +
               2 * (request.request_id.size() + request.block_name.size() +
                    request.lmc_file.size()));
  char* to = &(*line)[0];
  to = Put(kHead, to);
  to = PutEscaped(request.request_id, to);
  to = Put(kBlockName, to);
  to = PutEscaped(request.block_name, to);
  to = Put(kLmcFile, to);
  to = PutEscaped(request.lmc_file, to);
  to = verified ? Put(kReady, to) : Put(kPending, to);
  line->resize(static_cast<size_t>(to - line->data()));
}

void ComposeEchoLine(const StatusRequest& request, std::string* line) {
  line->assign("{\"request_id\":\"");
  EscapeJson(request.request_id, line);
  line->append("\",\"lmc_file\":\"");
  EscapeJson(request.lmc_file, line);
  line->append("\",\"block_name\":\"");
  EscapeJson(request.block_name, line);
  line->append("\"}\n");
}

void ComposeProbeLine(std::string* line) {
  line->assign(
      "{\"ok\":true,\"probe\":true,\"export_found\":true,"
      "\"source\":\"IsVerifiedReuseBlock\"}\n");
}

}  // namespace status_bridge
