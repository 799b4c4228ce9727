#include "protocol/answer_lines.h"

#include <cstring>
#include <iostream>
#include <streambuf>

#include "protocol/escape_json.h"

namespace status_bridge {

namespace {

// The bytes of the answer being written, gathered so that a line of ordinary
// length reaches standard output in one call, and so in one write: the
// program's stream buffer writes whatever it is handed at once. A fixed
// array: writing allocates nothing.
struct PendingBytes {
  char data[16 * 1024];
  size_t size = 0;
};
PendingBytes pending;

// Hands the gathered bytes to standard output's stream buffer.
void Drain() {
  std::cout.rdbuf()->sputn(pending.data,
                           static_cast<std::streamsize>(pending.size));
  pending.size = 0;
}

// Adds `size` bytes at `data` to the answer. A piece too long to gather goes
// straight through, after what was gathered before it.
void Put(const char* data, size_t size) {
  if (size > sizeof(pending.data) - pending.size) {
    Drain();
    if (size > sizeof(pending.data)) {
      std::cout.rdbuf()->sputn(data, static_cast<std::streamsize>(size));
      return;
    }
  }
  std::memcpy(pending.data + pending.size, data, size);
  pending.size += size;
}

// Adds the NUL-terminated `text`.
void Put(const char* text) { Put(text, std::strlen(text)); }

// Adds the escaped form of `text`.
void PutEscaped(const std::string& text) {
  ForEachEscapedPiece(text,
                      [](const char* data, size_t size) { Put(data, size); });
}

// Ends the line with LF, writes it and flushes.
void EndLine() {
  Put("\n", 1);
  Drain();
  std::cout.flush();
}

}  // namespace

void WriteErrorLine(const std::string& message) {
  Put("{\"ok\":false,\"error\":\"");
  PutEscaped(message);
  Put("\"}");
  EndLine();
}

void WriteSuccessLine(const std::string& request_id,
                      const std::string& block_name,
                      const std::string& lmc_file, bool verified) {
  Put("{\"ok\":true,\"request_id\":\"");
  PutEscaped(request_id);
  Put("\",\"block_name\":\"");
  PutEscaped(block_name);
  Put("\",\"lmc_file\":\"");
  PutEscaped(lmc_file);
  Put(verified ? "\",\"status\":\"READY\"" : "\",\"status\":\"PENDING\"");
  Put(verified ? ",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":1}"
               : ",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":0}");
  EndLine();
}

void WriteEchoLine(const std::string& request_id, const std::string& lmc_file,
                   const std::string& block_name) {
  Put("{\"request_id\":\"");
  PutEscaped(request_id);
  Put("\",\"lmc_file\":\"");
  PutEscaped(lmc_file);
  Put("\",\"block_name\":\"");
  PutEscaped(block_name);
  Put("\"}");
  EndLine();
}

void WriteProbeLine() {
  Put("{\"ok\":true,\"probe\":true,\"export_found\":true,"
      "\"source\":\"IsVerifiedReuseBlock\"}");
  EndLine();
}

}  // namespace status_bridge
