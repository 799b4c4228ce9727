#include "protocol/answer_lines.h"

#include <cstring>
#include <iostream>
#include <streambuf>

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

// The JSON escape of `byte`, or null when the byte is kept as it is: only LF,
// CR, the double quote and the backslash could break a line or a string.
const char* EscapeOf(char byte) {
  switch (byte) {
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    default:
      return nullptr;
  }
}

// Adds `text` escaped: runs of kept bytes whole, each escaped byte as its
// two-byte escape. Every other byte, NUL and non-ASCII included, is kept.
void PutEscaped(const std::string& text) {
  size_t run = 0;  // The first byte not yet added.
  for (size_t i = 0; i < text.size(); ++i) {
    if (const char* escape = EscapeOf(text[i])) {
      Put(text.data() + run, i - run);
      Put(escape, 2);
      run = i + 1;
    }
  }
  Put(text.data() + run, text.size() - run);
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

void WriteSuccessLine(const StatusRequest& request, bool verified) {
  Put("{\"ok\":true,\"request_id\":\"");
  PutEscaped(request.request_id);
  Put("\",\"block_name\":\"");
  PutEscaped(request.block_name);
  Put("\",\"lmc_file\":\"");
  PutEscaped(request.lmc_file);
  Put(verified ? "\",\"status\":\"READY\"" : "\",\"status\":\"PENDING\"");
  Put(verified ? ",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":1}"
               : ",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":0}");
  EndLine();
}

void WriteEchoLine(const StatusRequest& request) {
  Put("{\"request_id\":\"");
  PutEscaped(request.request_id);
  Put("\",\"lmc_file\":\"");
  PutEscaped(request.lmc_file);
  Put("\",\"block_name\":\"");
  PutEscaped(request.block_name);
  Put("\"}");
  EndLine();
}

void WriteProbeLine() {
  Put("{\"ok\":true,\"probe\":true,\"export_found\":true,"
      "\"source\":\"IsVerifiedReuseBlock\"}");
  EndLine();
}

}  // namespace status_bridge
