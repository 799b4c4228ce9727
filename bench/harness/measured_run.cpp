#include "bench/harness/measured_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

// Opens `path` or throws.
int OpenOrThrow(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    throw std::runtime_error("cannot open " + path + ": " +
                             std::strerror(errno));
  }
  return fd;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::vector<std::string> CleanEnvironment(
    const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  env.reserve(extra.size() + 64);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string text(*entry);
    if (StartsWith(text, "ORVEK_") || StartsWith(text, "LMCDLL70_PATH=") ||
        StartsWith(text, "SDD_HOME=")) {
      continue;
    }
    env.push_back(text);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

RunResult RunMeasured(const RunSpec& spec) {
  int stdin_fd = OpenOrThrow(spec.stdin_path, O_RDONLY);
  int stderr_fd =
      OpenOrThrow(spec.stderr_path.empty() ? "/dev/null" : spec.stderr_path,
                  O_WRONLY | O_CREAT | O_TRUNC);
  int out_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }

  std::vector<std::string> command;
  if (!spec.peak_rss_tool.empty()) {
    command = {spec.peak_rss_tool, spec.peak_rss_report};
  }
  command.insert(command.end(), spec.argv.begin(), spec.argv.end());
  std::vector<char*> argv;
  argv.reserve(command.size() + 1);
  for (const std::string& arg : command) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  envp.reserve(spec.env.size() + 1);
  for (const std::string& entry : spec.env) {
    envp.push_back(const_cast<char*>(entry.c_str()));
  }
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, stdin_fd, 0);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, stderr_fd, 2);

  RunResult result;
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int spawn_error =
      posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(stdin_fd);
  close(stderr_fd);
  close(out_pipe[1]);
  if (spawn_error != 0) {
    close(out_pipe[0]);
    throw std::runtime_error("cannot start " + command[0] + ": " +
                             std::strerror(spawn_error));
  }

  static std::vector<char> buffer(1 << 20);
  for (;;) {
    ssize_t n = read(out_pipe[0], buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      break;
    }
    size_t count = static_cast<size_t>(n);
    if (spec.batch_reads && count < kBatchBytes) {
      timespec pause{0, kBatchPauseMicroseconds * 1000};
      nanosleep(&pause, nullptr);
    }
    if (spec.expected_output != nullptr && result.output_as_expected) {
      const std::string& expected = *spec.expected_output;
      result.output_as_expected =
          result.output_bytes + count <= expected.size() &&
          std::memcmp(buffer.data(), expected.data() + result.output_bytes,
                      count) == 0;
    }
    result.output_lines += static_cast<std::uint64_t>(
        std::count(buffer.data(), buffer.data() + count, '\n'));
    result.output_bytes += count;
  }
  close(out_pipe[0]);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The rusage of a process spawned from here would carry this process's own
  // peak, so the peak is taken from the report of bench-peak-rss only.
  if (!spec.peak_rss_tool.empty()) {
    std::ifstream report(spec.peak_rss_report);
    int reported_exit = -1;
    if (!(report >> result.peak_rss_kib >> result.minor_faults >>
          reported_exit)) {
      result.peak_rss_kib = -1;
      result.minor_faults = -1;
    }
  }
  if (spec.expected_output != nullptr &&
      result.output_bytes != spec.expected_output->size()) {
    result.output_as_expected = false;
  }
  return result;
}

}  // namespace bench
