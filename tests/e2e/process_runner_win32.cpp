// The Windows runner: CreateProcessW with anonymous pipes for the three
// standard streams, and a job object that kills the bridge, and anything it
// started, when the run or the conversation ends, or when this test program
// dies first. Exit codes are the statuses Windows gives, whole.

#include <windows.h>
// After <windows.h>, whose types it uses.
#include <psapi.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/e2e/process_runner.h"

namespace e2e {

namespace {

// Owns one kernel handle.
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }

  HANDLE get() const { return handle_; }
  bool valid() const {
    return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
  }
  HANDLE Release() {
    HANDLE handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  void Close() {
    if (valid()) {
      CloseHandle(handle_);
    }
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + " failed, error " +
                           std::to_string(GetLastError()));
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) {
    return std::wstring();
  }
  int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                 static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                      wide.data(), size);
  return wide;
}

// Appends `arg` to `line` so that the C runtime of the started program reads
// it back as one argument (the rules of CommandLineToArgvW): quoted when it
// is empty or holds a blank or a quote, with each quote escaped and the
// backslashes before a quote doubled.
void AppendArgument(const std::wstring& arg, std::wstring* line) {
  if (!line->empty()) {
    line->push_back(L' ');
  }
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line->append(arg);
    return;
  }
  line->push_back(L'"');
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line->append(backslashes * 2 + 1, L'\\');
    } else {
      line->append(backslashes, L'\\');
    }
    backslashes = 0;
    line->push_back(c);
  }
  line->append(backslashes * 2, L'\\');
  line->push_back(L'"');
}

// The environment block that CreateProcessW takes with
// CREATE_UNICODE_ENVIRONMENT: NAME=value strings, each ended by a NUL, and
// one more NUL.
std::wstring EnvironmentBlock(const Environment& env) {
  std::wstring block;
  for (const auto& [name, value] : env) {
    block += Wide(name + "=" + value);
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  if (env.empty()) {
    block.push_back(L'\0');
  }
  return block;
}

// The pipes' buffer: large, so that a process writing many short lines
// seldom waits for the reader.
constexpr DWORD kPipeBytes = 1 << 20;

// A pipe whose `child_end` the started process inherits.
struct Pipe {
  OwnedHandle ours;
  OwnedHandle child_end;
};

Pipe MakePipe(bool child_reads) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, kPipeBytes)) {
    Fail("CreatePipe");
  }
  Pipe pipe;
  pipe.ours = OwnedHandle(child_reads ? write_end : read_end);
  pipe.child_end = OwnedHandle(child_reads ? read_end : write_end);
  SetHandleInformation(pipe.ours.get(), HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

// Opens `path` (UTF-8) as an inheritable standard stream of the child.
OwnedHandle OpenForChild(const std::string& path, DWORD access) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  OwnedHandle file(CreateFileW(Wide(path).c_str(), access,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    Fail("opening " + path);
  }
  return file;
}

struct Spawned {
  OwnedHandle job;
  OwnedHandle process;
  OwnedHandle stdin_pipe;   // Our end; invalid when input comes from a file.
  OwnedHandle stdout_pipe;  // Our end; invalid when output goes to a file.
  OwnedHandle stderr_pipe;  // Our end; invalid when standard error is NUL.
};

// Starts `command` with exactly `env`, inside a job of its own that kills
// it when the job's last handle closes. Standard input comes from a pipe or
// from `options.stdin_path`; standard output goes to a pipe or to
// `options.stdout_path`; standard error to a pipe, or to NUL when
// `keep_stderr` is false.
Spawned Spawn(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options, bool keep_stderr) {
  if (options.stdin_closed || options.address_space_limit != 0 ||
      options.nonblocking_stdin || options.nonblocking_output ||
      options.input_delay.count() != 0 || options.output_delay.count() != 0) {
    throw std::invalid_argument(
        "the Windows runner has no closed standard input, address-space "
        "limit, non-blocking pipe or delay");
  }
  Spawned spawned;
  spawned.job = OwnedHandle(CreateJobObjectW(nullptr, nullptr));
  if (!spawned.job.valid()) {
    Fail("CreateJobObjectW");
  }
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!SetInformationJobObject(spawned.job.get(),
                               JobObjectExtendedLimitInformation, &limits,
                               sizeof(limits))) {
    Fail("SetInformationJobObject");
  }

  OwnedHandle child_stdin;
  OwnedHandle child_stdout;
  OwnedHandle child_stderr;
  if (options.stdin_path.empty()) {
    Pipe in = MakePipe(true);
    spawned.stdin_pipe = std::move(in.ours);
    child_stdin = std::move(in.child_end);
  } else {
    child_stdin = OpenForChild(options.stdin_path, GENERIC_READ);
  }
  if (options.stdout_path.empty()) {
    Pipe out = MakePipe(false);
    spawned.stdout_pipe = std::move(out.ours);
    child_stdout = std::move(out.child_end);
  } else {
    child_stdout = OpenForChild(options.stdout_path, GENERIC_WRITE);
  }
  if (keep_stderr) {
    Pipe err = MakePipe(false);
    spawned.stderr_pipe = std::move(err.ours);
    child_stderr = std::move(err.child_end);
  } else {
    child_stderr = OpenForChild("NUL", GENERIC_WRITE);
  }

  std::wstring command_line;
  for (const std::string& arg : command) {
    AppendArgument(Wide(arg), &command_line);
  }
  std::wstring environment = EnvironmentBlock(env);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = child_stdin.get();
  startup.hStdOutput = child_stdout.get();
  startup.hStdError =
      options.stderr_to_stdout ? child_stdout.get() : child_stderr.get();
  PROCESS_INFORMATION process{};
  // Suspended until it is in the job, so that nothing it starts escapes.
  if (!CreateProcessW(
          nullptr, command_line.data(), nullptr, nullptr, TRUE,
          CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW,
          environment.data(), nullptr, &startup, &process)) {
    Fail("CreateProcessW of " + command.front());
  }
  spawned.process = OwnedHandle(process.hProcess);
  OwnedHandle thread(process.hThread);
  if (!AssignProcessToJobObject(spawned.job.get(), process.hProcess)) {
    DWORD error = GetLastError();
    TerminateProcess(process.hProcess, 1);
    SetLastError(error);  // The assignment's error, not the termination's.
    Fail("AssignProcessToJobObject");
  }
  ResumeThread(thread.get());
  return spawned;
}

// Reads what is in `pipe` now into `sink`, without waiting. False once the
// pipe has ended (every writer has closed it).
bool Drain(HANDLE pipe, std::string* sink) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
      return false;
    }
    if (available == 0) {
      return true;
    }
    char buffer[1 << 16];
    DWORD count = 0;
    DWORD wanted = available < sizeof(buffer) ? available : sizeof(buffer);
    if (!ReadFile(pipe, buffer, wanted, &count, nullptr)) {
      return false;
    }
    sink->append(buffer, count);
  }
}

// Reads `pipe` into `sink` until every writer has closed it.
void ReadAll(HANDLE pipe, std::string* sink) {
  char buffer[1 << 16];
  DWORD count = 0;
  while (ReadFile(pipe, buffer, sizeof(buffer), &count, nullptr) && count > 0) {
    sink->append(buffer, count);
  }
}

// Writes all of `bytes` to `pipe`; stops early when the reader has gone.
void WriteAll(HANDLE pipe, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD chunk = static_cast<DWORD>(
        bytes.size() - done < (1u << 20) ? bytes.size() - done : (1u << 20));
    DWORD written = 0;
    if (!WriteFile(pipe, bytes.data() + done, chunk, &written, nullptr)) {
      return;
    }
    done += written;
  }
}

// The peak working set of `process` so far, in KiB; 0 when unknown.
long PeakKib(HANDLE process) {
  PROCESS_MEMORY_COUNTERS memory{};
  if (!GetProcessMemoryInfo(process, &memory, sizeof(memory))) {
    return 0;
  }
  return static_cast<long>(memory.PeakWorkingSetSize / 1024);
}

int ExitCodeOf(HANDLE process) {
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  return static_cast<int>(code);
}

// How long a conversation's read sleeps when the pipe has nothing for it.
constexpr DWORD kPollMilliseconds = 2;

// How often a run's peak memory is sampled.
constexpr DWORD kSampleMilliseconds = 20;

}  // namespace

bool RunsAsWindowsProgram() { return true; }

RunResult Run(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options) {
  Spawned child = Spawn(command, env, options, true);
  RunResult result;
  if (options.close_stdout_at_once) {
    child.stdout_pipe.Close();
  }
  // Pipe reads and writes block, so each stream has a thread of its own. A
  // read ends when every writer of its pipe has gone; a write fails when the
  // reader has.
  std::vector<std::thread> streams;
  if (child.stdin_pipe.valid()) {
    if (options.input.empty()) {
      child.stdin_pipe.Close();
    } else {
      streams.emplace_back([&child, &options] {
        WriteAll(child.stdin_pipe.get(), options.input);
        child.stdin_pipe.Close();
      });
    }
  }
  OwnedHandle* readers[2] = {&child.stdout_pipe, &child.stderr_pipe};
  std::string* sinks[2] = {&result.out, &result.err};
  for (int i = 0; i < 2; ++i) {
    if (readers[i]->valid()) {
      streams.emplace_back([pipe = readers[i], sink = sinks[i]] {
        ReadAll(pipe->get(), sink);
        pipe->Close();
      });
    }
  }
  auto deadline = std::chrono::steady_clock::now() + options.timeout;
  for (;;) {
    // Sampled while the process runs: Wine keeps no figures of an ended one.
    long peak = PeakKib(child.process.get());
    result.peak_rss_kib =
        peak > result.peak_rss_kib ? peak : result.peak_rss_kib;
    if (WaitForSingleObject(child.process.get(), kSampleMilliseconds) ==
        WAIT_OBJECT_0) {
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      break;
    }
  }
  // Ends the process on a time-out, and anything it started in any case, so
  // that every writer of the pipes has gone and the readers end.
  TerminateJobObject(child.job.get(), 1);
  WaitForSingleObject(child.process.get(), INFINITE);
  for (std::thread& stream : streams) {
    stream.join();
  }
  result.exit_code = ExitCodeOf(child.process.get());
  return result;
}

// POSIX only; no Windows test reads a descriptor of its own.
bool ReadLineFrom(int, std::chrono::milliseconds, std::string*, std::string*) {
  throw std::logic_error("ReadLineFrom reads POSIX file descriptors only");
}

long ResidentKibOfThisProcess() {
  PROCESS_MEMORY_COUNTERS memory{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory))) {
    return 0;
  }
  return static_cast<long>(memory.WorkingSetSize / 1024);
}

struct Conversation::Child {
  Spawned spawned;
};

Conversation::Conversation(const std::vector<std::string>& command,
                           const Environment& env, const RunOptions& options)
    : child_(std::make_unique<Child>()) {
  child_->spawned = Spawn(command, env, options, false);
}

Conversation::~Conversation() {
  if (child_->spawned.process.valid()) {
    TerminateJobObject(child_->spawned.job.get(), 1);
    Finish();
  }
}

void Conversation::Write(const std::string& bytes) {
  WriteAll(child_->spawned.stdin_pipe.get(), bytes);
}

bool Conversation::ReadLine(std::chrono::milliseconds timeout,
                            std::string* line) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  bool open = true;
  for (;;) {
    size_t lf = pending_.find('\n');
    if (lf != std::string::npos) {
      *line = pending_.substr(0, lf + 1);
      pending_.erase(0, lf + 1);
      return true;
    }
    if (!open) {
      return false;
    }
    size_t before = pending_.size();
    open = Drain(child_->spawned.stdout_pipe.get(), &pending_);
    if (open && pending_.size() == before) {
      if (std::chrono::steady_clock::now() >= deadline) {
        return false;
      }
      Sleep(kPollMilliseconds);
    }
  }
}

int Conversation::Finish() {
  child_->spawned.stdin_pipe.Close();
  child_->spawned.stdout_pipe.Close();
  WaitForSingleObject(child_->spawned.process.get(), INFINITE);
  int code = ExitCodeOf(child_->spawned.process.get());
  child_->spawned.process.Close();
  child_->spawned.job.Close();
  return code;
}

long Conversation::pid() const {
  return static_cast<long>(GetProcessId(child_->spawned.process.get()));
}

}  // namespace e2e
