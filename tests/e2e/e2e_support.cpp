#include "tests/e2e/e2e_support.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace e2e {

ScratchDir::ScratchDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("status-bridge-e2e." + std::to_string(random() % 1000000000));
    // False when the folder is there already: then another name.
    if (std::filesystem::create_directory(path)) {
      path_ = path.u8string();
      return;
    }
  }
  throw std::runtime_error("no scratch folder could be made");
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FsPath(path_), ignored);
}

std::string ScratchDir::Write(const std::string& name,
                              const std::string& content) const {
  std::string path = Path(name);
  std::ofstream file(FsPath(path), std::ios::binary);
  file.write(content.data(), static_cast<std::streamsize>(content.size()));
  return path;
}

std::string ScratchDir::Path(const std::string& name) const {
  return path_ + "/" + name;
}

std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::u8path(path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(FsPath(path), std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

int ExitCodeOfStatus(unsigned long status) {
  return RunsAsWindowsProgram() ? static_cast<int>(status)
                                : static_cast<int>(status & 0xFF);
}

namespace {

Environment EnvFor(const std::string& library, bool trace) {
  Environment env = {{"LMCDLL70_PATH", TargetPath(library)},
                     {kPrivateCallVariable, "1"}};
  if (trace) {
    env.emplace_back(kTraceOn, "1");
  }
  return env;
}

}  // namespace

Environment StandInEnv(bool trace) {
  return EnvFor(GetTarget().vendor_library, trace);
}

Environment ThrowingStandInEnv(bool trace) {
  return EnvFor(GetTarget().vendor_throwing, trace);
}

std::vector<std::string> BridgeCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = GetTarget().command;
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

Environment BridgeEnv(const Environment& env) {
  Environment full_env;
  for (const auto& base : GetTarget().base_env) {
    bool replaced = false;
    for (const auto& entry : env) {
      replaced = replaced || entry.first == base.first;
    }
    if (!replaced) {
      full_env.push_back(base);
    }
  }
  full_env.insert(full_env.end(), env.begin(), env.end());
  return full_env;
}

RunResult RunBridge(const std::vector<std::string>& args,
                    const Environment& env, const std::string& input,
                    RunOptions options) {
  options.input = input;
  const std::vector<std::string> command = BridgeCommand(args);
  const Environment full_env = BridgeEnv(env);
  RunResult run = Run(command, full_env, options);
  // Wine itself has, once in CI on a busy machine, ended a run with status 1
  // before the bridge wrote a byte (its own messages are switched off). The
  // bridge never ends with status 1, so such a run says nothing about it: it
  // runs once more, with a line that says so.
  const Target& target = GetTarget();
  bool under_wine = target.windows && target.command.size() > 1;
  if (under_wine && run.exit_code == 1 && run.out.empty() && run.err.empty()) {
    std::fprintf(stderr,
                 "[ note     ] Wine ended the bridge with status 1 before it "
                 "wrote anything; running it once more\n");
    run = Run(command, full_env, options);
  }
  return run;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string Request(const std::string& id, const std::string& lmc_file,
                    const std::string& block_name, const char* block_type) {
  std::string line = R"({"op":"is_verified","request_id":")" + Escaped(id) +
                     R"(","lmc_file":")" + Escaped(lmc_file) +
                     R"(","block_name":")" + Escaped(block_name) + "\"";
  if (block_type != nullptr) {
    line += R"(,"block_type":")" + Escaped(block_type) + "\"";
  }
  return line + "}\n";
}

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) {
    out += line + GetTarget().line_end;
  }
  return out;
}

std::string ErrorLine(const std::string& message) {
  return R"({"ok":false,"error":")" + Escaped(message) + "\"}";
}

std::string SuccessLine(const std::string& id, const std::string& block_name,
                        const std::string& lmc_file, bool verified) {
  return R"({"ok":true,"request_id":")" + Escaped(id) + R"(","block_name":")" +
         Escaped(block_name) + R"(","lmc_file":")" + Escaped(lmc_file) +
         R"(","status":")" + (verified ? "READY" : "PENDING") +
         R"(","source":"IsVerifiedReuseBlock","raw_status":)" +
         (verified ? "1" : "0") + "}";
}

std::string TraceOf(std::initializer_list<const char*> events) {
  std::string out;
  for (const char* event : events) {
    out += std::string("[status-bridge] ") + event + GetTarget().line_end;
  }
  return out;
}

std::string CallTrace() {
  return TraceOf({"calling-status-function", "status-function-returned",
                  "cstring-scope-ended"});
}

std::string Repeat(const std::string& text, int count) {
  std::string out;
  out.reserve(text.size() * static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    out += text;
  }
  return out;
}

}  // namespace e2e
