#include "standin/status_library/call_support.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(_WIN32)
// The kernel32 functions of the raw write and the waits, declared as the
// Windows SDK declares them, so that this file needs no <windows.h>.
extern "C" __declspec(dllimport) void __stdcall Sleep(unsigned long ms);
extern "C" __declspec(dllimport) void* __stdcall GetStdHandle(
    unsigned long which);
extern "C" __declspec(dllimport) int __stdcall WriteFile(void* file,
                                                         const void* buffer,
                                                         unsigned long size,
                                                         unsigned long* written,
                                                         void* overlapped);
#else
#include <time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace standin {

namespace {

// The environment variable naming the file to which every call is logged.
constexpr char kCallLogVariable[] = "ORVEK_STANDIN_VENDOR_LOG";

// When this environment variable is set, the library writes kUnloadNote to
// standard output as it is unloaded, so a test can see when the bridge
// releases it relative to the bridge's own lines.
constexpr char kUnloadNoteVariable[] = "ORVEK_STANDIN_VENDOR_UNLOAD_NOTE";
constexpr char kUnloadNote[] = "stand-in vendor library unloaded\n";

struct UnloadNote {
  ~UnloadNote() {
    const char* value = std::getenv(kUnloadNoteVariable);
    if (value != nullptr && *value != '\0') {
      std::fputs(kUnloadNote, stdout);
      std::fflush(stdout);
    }
  }
} unload_note;

void AppendToString(const char* bytes, size_t length, void* context) {
  static_cast<std::string*>(context)->append(bytes, length);
}

}  // namespace

void LogCall(const char* block_name, int32_t block_type, const char* lmc_file) {
  const char* log_path = std::getenv(kCallLogVariable);
  if (log_path == nullptr || *log_path == '\0') {
    return;
  }
  std::string record;
  EmitCallRecord(block_name, block_type, lmc_file, AppendToString, &record);
  if (std::FILE* log = std::fopen(log_path, "ab")) {
    std::fwrite(record.data(), 1, record.size(), log);
    std::fclose(log);
  }
}

void PrintNote(Outcome outcome) {
  if (outcome == Outcome::kPrintStdio) {
    std::fputs(kStandardOutputNote, stdout);
    std::fflush(stdout);
    return;
  }
  size_t size = sizeof(kStandardOutputNote) - 1;
#if defined(_WIN32)
  constexpr unsigned long kStdOutputHandle = static_cast<unsigned long>(-11);
  unsigned long written = 0;
  WriteFile(GetStdHandle(kStdOutputHandle), kStandardOutputNote,
            static_cast<unsigned long>(size), &written, nullptr);
#else
  ssize_t written = write(1, kStandardOutputNote, size);
  static_cast<void>(written);
#endif
}

Rule RuleFromFile(const char* path, const char* block_name) {
  std::string text;
  if (std::FILE* file = std::fopen(path, "rb")) {
    char buffer[4096];
    size_t count;
    while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
      text.append(buffer, count);
    }
    std::fclose(file);
  }
  return FindRule(text.data(), text.size(), block_name);
}

void Pause(uint32_t milliseconds) {
#if defined(_WIN32)
  Sleep(milliseconds);
#else
  timespec left = {};
  left.tv_sec = static_cast<time_t>(milliseconds / 1000);
  left.tv_nsec =
      static_cast<decltype(left.tv_nsec)>(milliseconds % 1000) * 1000000;
  // A signal handler of the caller may cut the wait short; wait the rest.
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
#endif
}

void Hang() {
  for (;;) {
    Pause(kMaxSleepMilliseconds);
  }
}

}  // namespace standin
