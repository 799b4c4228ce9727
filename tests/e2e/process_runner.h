#pragma once

// Runs the bridge as a real process with chosen arguments, environment and
// standard input, and collects what it writes and how it ends. One
// implementation a platform: process_runner_posix.cpp (fork, execve, poll)
// and process_runner_win32.cpp (CreateProcessW, pipes, a job object).

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

using Environment = std::vector<std::pair<std::string, std::string>>;

struct RunOptions {
  std::vector<std::string> args;  // After the program itself.
  Environment env;                // Added to the target's base environment.
  std::string input;              // Written to standard input, then closed.
  std::string stdin_path;         // Read standard input from this file instead.
  std::string stdout_path;        // Send standard output to this file instead.
  bool close_stdout_at_once = false;  // The reader goes away before any answer.
  // Standard error into standard output's pipe, so that their order shows.
  bool stderr_to_stdout = false;
  std::chrono::seconds timeout{120};
  // POSIX only; the Windows runner refuses them.
  bool stdin_closed = false;                   // No standard input at all.
  unsigned long long address_space_limit = 0;  // Bytes; 0 for none.
  // O_NONBLOCK on the child's end of its input pipe, or of its output and
  // error pipes; the flag belongs to the open file that both sides share.
  bool nonblocking_stdin = false;
  bool nonblocking_output = false;
  std::chrono::milliseconds input_delay{0};   // Start writing the input late,
  std::chrono::milliseconds output_delay{0};  // or reading the output.
};

struct RunResult {
  std::string out;
  std::string err;
  // Set when the process exited normally. On Windows every end is an exit:
  // the status as Windows gives it, 0xC0000005 for an access violation
  // (a negative int).
  int exit_code = -1;
  int signal = 0;  // POSIX: set when a signal ended it.
  bool timed_out = false;
  // Peak memory in KiB: on POSIX the resident memory of the process tree, on
  // Windows the peak working set of the process, read while it runs.
  long peak_rss_kib = 0;
};

// True when this test program is itself a Windows program (native, or under
// Wine), which starts the bridge with CreateProcessW.
bool RunsAsWindowsProgram();

// Starts the command, feeds it `options.input` and waits for its end.
RunResult Run(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options);

// POSIX only: reads from the file descriptor `fd` up to and including the
// next LF into `line`, keeping what follows in `pending` for the next call;
// false when no LF arrives within `timeout` or the input ends first.
bool ReadLineFrom(int fd, std::chrono::milliseconds timeout,
                  std::string* pending, std::string* line);

// The resident memory of this test process, in KiB; 0 when unknown.
long ResidentKibOfThisProcess();

// A process driven one line at a time. A process still running when its
// Conversation ends is killed.
class Conversation {
 public:
  // Of `options`, only the paths of the standard streams count.
  Conversation(const std::vector<std::string>& command, const Environment& env,
               const RunOptions& options = {});
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  // Writes `bytes` to the process's standard input.
  void Write(const std::string& bytes);
  // Reads standard output up to and including the next LF; false when none
  // arrives within `timeout` or the output ends first.
  bool ReadLine(std::chrono::milliseconds timeout, std::string* line);
  // Closes standard input and waits for the end; returns the exit code, or
  // -1 when the process did not exit normally.
  int Finish();
  long pid() const;

 private:
  struct Child;  // The platform's handles of the running process.
  std::unique_ptr<Child> child_;
  std::string pending_;
};

}  // namespace e2e
