#include "protocol/answer_lines.h"

#include <iostream>

#include "protocol/escape_json.h"

namespace status_bridge {

namespace {

// Ends `line` with LF, writes it to standard output and flushes.
void WriteLine(std::string* line) {
  line->push_back('\n');
  std::cout.write(line->data(), static_cast<std::streamsize>(line->size()));
  std::cout.flush();
}

// Starts a line with room for its fixed text and the variable pieces.
std::string StartLine(size_t variable_bytes) {
  std::string line;
  line.reserve(128 + variable_bytes + variable_bytes / 8);
  return line;
}

}  // namespace

void WriteErrorLine(const std::string& message) {
  std::string line = StartLine(message.size());
  line.append("{\"ok\":false,\"error\":\"");
  AppendEscapedJson(message, &line);
  line.append("\"}");
  WriteLine(&line);
}

void WriteSuccessLine(const std::string& request_id,
                      const std::string& block_name,
                      const std::string& lmc_file, bool verified) {
  std::string line =
      StartLine(request_id.size() + block_name.size() + lmc_file.size());
  line.append("{\"ok\":true,\"request_id\":\"");
  AppendEscapedJson(request_id, &line);
  line.append("\",\"block_name\":\"");
  AppendEscapedJson(block_name, &line);
  line.append("\",\"lmc_file\":\"");
  AppendEscapedJson(lmc_file, &line);
  line.append("\",\"status\":\"");
  line.append(verified ? "READY" : "PENDING");
  line.append("\",\"source\":\"IsVerifiedReuseBlock\",\"raw_status\":");
  line.append(verified ? "1" : "0");
  line.append("}");
  WriteLine(&line);
}

void WriteEchoLine(const std::string& request_id, const std::string& lmc_file,
                   const std::string& block_name) {
  std::string line =
      StartLine(request_id.size() + lmc_file.size() + block_name.size());
  line.append("{\"request_id\":\"");
  AppendEscapedJson(request_id, &line);
  line.append("\",\"lmc_file\":\"");
  AppendEscapedJson(lmc_file, &line);
  line.append("\",\"block_name\":\"");
  AppendEscapedJson(block_name, &line);
  line.append("\"}");
  WriteLine(&line);
}

void WriteProbeLine() {
  std::string line(
      "{\"ok\":true,\"probe\":true,\"export_found\":true,"
      "\"source\":\"IsVerifiedReuseBlock\"}");
  WriteLine(&line);
}

}  // namespace status_bridge
