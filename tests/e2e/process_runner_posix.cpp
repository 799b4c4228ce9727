#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "tests/e2e/process_runner.h"

namespace e2e {

namespace {

struct Pipe {
  int read_end = -1;
  int write_end = -1;
};

Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  return Pipe{fds[0], fds[1]};
}

void CloseFd(int* fd) {
  if (*fd >= 0) {
    close(*fd);
    *fd = -1;
  }
}

// Redirects `fd` in the child; exits the child on failure.
void ChildDup(int from, int to) {
  if (from >= 0 && dup2(from, to) < 0) {
    _exit(127);
  }
}

struct Spawned {
  pid_t pid;
  int stdin_fd;
  int stdout_fd;
  int stderr_fd;
};

void SetNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// Opens `path` for the child's standard stream; throws on failure.
int OpenForChild(const std::string& path, int flags) {
  int fd = open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) {
    throw std::runtime_error("open " + path);
  }
  return fd;
}

// Starts `command` with exactly `env`. Standard input comes from a pipe, or
// from `options.stdin_path`, or is not open with `options.stdin_closed`.
// Standard output goes to a pipe, or to `options.stdout_path` when it is
// given; standard error to a pipe, or to /dev/null when `keep_stderr` is
// false.
Spawned Spawn(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options, bool keep_stderr) {
  Pipe in = MakePipe();
  Pipe out = MakePipe();
  Pipe err = MakePipe();
  int stdin_file = -1;
  if (!options.stdin_path.empty()) {
    stdin_file = OpenForChild(options.stdin_path, O_RDONLY);
  }
  int stdout_file = -1;
  if (!options.stdout_path.empty()) {
    stdout_file = OpenForChild(options.stdout_path, O_WRONLY);
  }
  int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (options.nonblocking_stdin) {
    SetNonBlocking(in.read_end);
  }
  if (options.nonblocking_output) {
    SetNonBlocking(out.write_end);
    SetNonBlocking(err.write_end);
  }

  std::vector<std::string> env_strings;
  for (const auto& [name, value] : env) {
    env_strings.push_back(name + "=" + value);
  }
  std::vector<char*> argv;
  for (const std::string& arg : command) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& entry : env_strings) {
    envp.push_back(entry.data());
  }
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    if (options.stdin_closed) {
      close(0);
    } else {
      ChildDup(stdin_file >= 0 ? stdin_file : in.read_end, 0);
    }
    ChildDup(stdout_file >= 0 ? stdout_file : out.write_end, 1);
    if (options.stderr_to_stdout) {
      ChildDup(1, 2);
    } else {
      ChildDup(keep_stderr ? err.write_end : null_fd, 2);
    }
    if (options.address_space_limit != 0) {
      rlimit limit{options.address_space_limit, options.address_space_limit};
      setrlimit(RLIMIT_AS, &limit);
    }
    signal(SIGPIPE, SIG_DFL);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in.read_end);
  close(out.write_end);
  close(err.write_end);
  CloseFd(&stdin_file);
  CloseFd(&stdout_file);
  CloseFd(&null_fd);
  if (!keep_stderr) {
    CloseFd(&err.read_end);
  }
  return Spawned{pid, in.write_end, out.read_end, err.read_end};
}

void RecordExit(int status, const rusage& usage, RunResult* result) {
  if (WIFEXITED(status)) {
    result->exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result->signal = WTERMSIG(status);
  }
  result->peak_rss_kib = usage.ru_maxrss;
}

}  // namespace

RunResult Run(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options) {
  // Writing to a process that has closed its input must fail, not kill us.
  signal(SIGPIPE, SIG_IGN);
  Spawned child = Spawn(command, env, options, true);
  RunResult result;
  int stdin_fd = child.stdin_fd;
  int stdout_fd = child.stdout_fd;
  int stderr_fd = child.stderr_fd;
  if (options.close_stdout_at_once) {
    CloseFd(&stdout_fd);
  }
  SetNonBlocking(stdin_fd);
  size_t written = 0;
  if (options.input.empty()) {
    CloseFd(&stdin_fd);
  }
  auto start = std::chrono::steady_clock::now();
  auto deadline = start + options.timeout;
  char buffer[1 << 16];
  while (stdin_fd >= 0 || stdout_fd >= 0 || stderr_fd >= 0) {
    auto now = std::chrono::steady_clock::now();
    auto wait = deadline - now;
    if (wait.count() <= 0) {
      result.timed_out = true;
      kill(child.pid, SIGKILL);
      break;
    }
    // Until its delay has passed, a pipe is left out of the poll, which then
    // wakes no later than that.
    bool writing = now >= start + options.input_delay;
    bool reading = now >= start + options.output_delay;
    if (!writing) {
      wait = std::min(wait, start + options.input_delay - now);
    }
    if (!reading) {
      wait = std::min(wait, start + options.output_delay - now);
    }
    pollfd fds[3] = {{writing ? stdin_fd : -1, POLLOUT, 0},
                     {reading ? stdout_fd : -1, POLLIN, 0},
                     {reading ? stderr_fd : -1, POLLIN, 0}};
    int wait_ms = static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(wait).count());
    if (poll(fds, 3, wait_ms) < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (stdin_fd >= 0 && fds[0].revents != 0) {
      ssize_t n = write(stdin_fd, options.input.data() + written,
                        options.input.size() - written);
      if (n > 0) {
        written += static_cast<size_t>(n);
      }
      if ((n < 0 && errno != EAGAIN) || written == options.input.size()) {
        CloseFd(&stdin_fd);
      }
    }
    int* readers[2] = {&stdout_fd, &stderr_fd};
    std::string* sinks[2] = {&result.out, &result.err};
    for (int i = 0; i < 2; ++i) {
      if (*readers[i] >= 0 && fds[i + 1].revents != 0) {
        ssize_t n = read(*readers[i], buffer, sizeof(buffer));
        if (n > 0) {
          sinks[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
          CloseFd(readers[i]);
        }
      }
    }
  }
  CloseFd(&stdin_fd);
  CloseFd(&stdout_fd);
  CloseFd(&stderr_fd);
  int status = 0;
  rusage usage{};
  while (wait4(child.pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  RecordExit(status, usage, &result);
  return result;
}

struct Conversation::Child {
  pid_t pid = -1;
  int stdin_fd = -1;
  int stdout_fd = -1;
};

Conversation::Conversation(const std::vector<std::string>& command,
                           const Environment& env, const RunOptions& options)
    : child_(std::make_unique<Child>()) {
  signal(SIGPIPE, SIG_IGN);
  Spawned child = Spawn(command, env, options, false);
  child_->pid = child.pid;
  child_->stdin_fd = child.stdin_fd;
  child_->stdout_fd = child.stdout_fd;
}

Conversation::~Conversation() {
  if (child_->pid > 0) {
    kill(child_->pid, SIGKILL);
    Finish();
  }
}

void Conversation::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        write(child_->stdin_fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;
    }
    done += static_cast<size_t>(n);
  }
}

bool ReadLineFrom(int fd, std::chrono::milliseconds timeout,
                  std::string* pending, std::string* line) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t lf = pending->find('\n');
    if (lf != std::string::npos) {
      *line = pending->substr(0, lf + 1);
      pending->erase(0, lf + 1);
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 ||
        poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof(buffer));
    if (n <= 0) {
      return false;
    }
    pending->append(buffer, static_cast<size_t>(n));
  }
}

bool Conversation::ReadLine(std::chrono::milliseconds timeout,
                            std::string* line) {
  return ReadLineFrom(child_->stdout_fd, timeout, &pending_, line);
}

int Conversation::Finish() {
  CloseFd(&child_->stdin_fd);
  CloseFd(&child_->stdout_fd);
  int status = 0;
  while (waitpid(child_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  child_->pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long Conversation::pid() const { return child_->pid; }

bool RunsAsWindowsProgram() { return false; }

long ResidentKibOfThisProcess() {
  long pages = 0;
  long resident = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
      resident = 0;
    }
    std::fclose(statm);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace e2e
