#include "protocol/answer_lines.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

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

// Replaces `line` with `pieces` in turn: fixed text, an escaped value, fixed
// text, and so on. The line is sized once, with room for every value byte
// escaped, and cut to what was written.
void Compose(std::initializer_list<std::string_view> pieces,
             std::string* line) {
  size_t room = 0;
  for (std::string_view piece : pieces) {
    room += 2 * piece.size();
  }
  line->resize(room);
  char* to = &(*line)[0];
  bool value = false;
  for (std::string_view piece : pieces) {
    if (value) {
      to = EscapeJson(piece, to);
    } else {
      std::memcpy(to, piece.data(), piece.size());
      to += piece.size();
    }
    value = !value;
  }
  line->resize(static_cast<size_t>(to - line->data()));
}

}  // namespace

char* EscapeJson(std::string_view text, char* to) {
  const char* pos = text.data();
  const char* end = pos + text.size();
  for (;;) {
    const char* run = pos;  // Kept bytes, copied a run at a time.
    while (pos != end && kEscapeLetter[static_cast<unsigned char>(*pos)] == 0) {
      ++pos;
    }
    std::memcpy(to, run, static_cast<size_t>(pos - run));
    to += pos - run;
    if (pos == end) {
      return to;
    }
    *to++ = '\\';
    *to++ = kEscapeLetter[static_cast<unsigned char>(*pos++)];
  }
}

void ComposeErrorLine(std::string_view message, std::string* line) {
  Compose({"{\"ok\":false,\"error\":\"", message, "\"}\n"}, line);
}

void ComposeSuccessLine(const StatusRequest& request, bool verified,
                        std::string* line) {
  // Compose's work, written out for the answer every request gets: the
  // fixed pieces are copied with their lengths known as the code compiles.
  static constexpr char kHead[] = "{\"ok\":true,\"request_id\":\"";
  static constexpr char kBlockName[] = "\",\"block_name\":\"";
  static constexpr char kLmcFile[] = "\",\"lmc_file\":\"";
  static constexpr char kReady[] =
      "\",\"status\":\"READY\",\"source\":\"IsVerifiedReuseBlock\","
      "\"raw_status\":1}\n";
  static constexpr char kPending[] =
      "\",\"status\":\"PENDING\",\"source\":\"IsVerifiedReuseBlock\","
      "\"raw_status\":0}\n";
  line->resize(sizeof(kHead) + sizeof(kBlockName) + sizeof(kLmcFile) +
               sizeof(kPending) +
               2 * (request.request_id.size() + request.block_name.size() +
                    request.lmc_file.size()));
  char* to = &(*line)[0];
  to = std::copy_n(kHead, sizeof(kHead) - 1, to);
  to = EscapeJson(request.request_id, to);
  to = std::copy_n(kBlockName, sizeof(kBlockName) - 1, to);
  to = EscapeJson(request.block_name, to);
  to = std::copy_n(kLmcFile, sizeof(kLmcFile) - 1, to);
  to = EscapeJson(request.lmc_file, to);
  to = verified ? std::copy_n(kReady, sizeof(kReady) - 1, to)
                : std::copy_n(kPending, sizeof(kPending) - 1, to);
  line->resize(static_cast<size_t>(to - line->data()));
}

void ComposeEchoLine(const StatusRequest& request, std::string* line) {
  Compose(
      {"{\"request_id\":\"", request.request_id, "\",\"lmc_file\":\"",
       request.lmc_file, "\",\"block_name\":\"", request.block_name, "\"}\n"},
      line);
}

void ComposeProbeLine(std::string* line) {
  line->assign(
      "{\"ok\":true,\"probe\":true,\"export_found\":true,"
      "\"source\":\"IsVerifiedReuseBlock\"}\n");
}

}  // namespace status_bridge
