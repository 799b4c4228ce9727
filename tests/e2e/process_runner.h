#pragma once

// Runs the bridge as a real process with chosen arguments, environment and
// standard input, and collects what it writes and how it ends.

#include <sys/types.h>

#include <chrono>
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
  bool stdin_closed = false;      // Start with no standard input at all.
  std::string stdout_path;        // Send standard output to this file instead.
  bool close_stdout_at_once = false;  // The reader goes away before any answer.
  unsigned long long address_space_limit = 0;  // Bytes; 0 for none.
  // O_NONBLOCK on the child's end of its input pipe, or of its output and
  // error pipes; the flag belongs to the open file that both sides share.
  bool nonblocking_stdin = false;
  bool nonblocking_output = false;
  std::chrono::milliseconds input_delay{0};   // Start writing the input late,
  std::chrono::milliseconds output_delay{0};  // or reading the output.
  std::chrono::seconds timeout{120};
};

struct RunResult {
  std::string out;
  std::string err;
  int exit_code = -1;  // Set when the process exited normally.
  int signal = 0;      // Set when a signal ended it.
  bool timed_out = false;
  long peak_rss_kib = 0;  // Peak resident memory of the process tree.
};

// Starts the command, feeds it `options.input` and waits for its end.
RunResult Run(const std::vector<std::string>& command, const Environment& env,
              const RunOptions& options);

// Reads from `fd` up to and including the next LF into `line`, keeping what
// follows in `pending` for the next call; false when no LF arrives within
// `timeout` or the input ends first.
bool ReadLineFrom(int fd, std::chrono::milliseconds timeout,
                  std::string* pending, std::string* line);

// A process driven one line at a time.
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
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int stdin_fd_ = -1;
  int stdout_fd_ = -1;
  std::string pending_;
};

}  // namespace e2e
