#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "platform/platform.h"

namespace status_bridge {

const char kStatusLibraryBelowHome[] = "/common/win32/lib/LMCDLL70.dll";

// POSIX streams have no text mode: a CR LF line end reaches the reader whole.
const bool kLineReaderDropsCrBeforeLf = true;

void PrepareProcess() {
  // A reader that has gone away must not end the process: writes then fail
  // quietly and the run goes on to the end of its input.
  std::signal(SIGPIPE, SIG_IGN);
  std::set_terminate(EndProcessAbnormally);
}

void EndProcessAbnormally() { std::abort(); }

std::string ReadPathVariable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

bool SwitchIsOn(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

int SeparateAnswerChannel() {
  // Above the three standard descriptors, and not inherited by a program
  // that the library might start.
  int answers = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  int sink = STDERR_FILENO;
  if (fcntl(STDERR_FILENO, F_GETFD) == -1) {
    sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
  }
  if (sink >= 0 && sink != STDOUT_FILENO) {
    dup2(sink, STDOUT_FILENO);
    if (sink != STDERR_FILENO) {
      close(sink);
    }
  }
  return answers;
}

const std::string* ConvertToAnsiCodePage(const std::string& text,
                                         std::string* /*ansi*/) {
  // The development build counts as a machine whose code page is UTF-8.
  return &text;
}

ModuleHandle LoadLibraryFromPath(const std::string& path) {
  if (path.empty()) {
    return nullptr;  // dlopen would hand back the program itself.
  }
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

std::string ExportSymbolName(const char* name) {
  // ELF linkers read '@' as a symbol version, so an ELF library exports the
  // decorated name with each '@' written as '$'.
  std::string elf_name(name);
  for (char& byte : elf_name) {
    if (byte == '@') {
      byte = '$';
    }
  }
  return elf_name;
}

ExportAddress FindExport(ModuleHandle module, const char* name) {
  return ExportAs<ExportAddress>(dlsym(module, ExportSymbolName(name).c_str()));
}

void ReleaseLibrary(ModuleHandle module) { dlclose(module); }

namespace {

// Handles a failed read or write of `descriptor` that wanted `events`: an
// interruption is tried again at once, and a non-blocking descriptor that is
// not ready is tried again once poll finds it ready. Returns false for any
// other failure.
bool CanTryAgain(int descriptor, decltype(pollfd::events) events) {
  if (errno == EINTR) {
    return true;
  }
  if (errno != EAGAIN && errno != EWOULDBLOCK) {
    return false;
  }
  pollfd ready = {descriptor, events, 0};
  return poll(&ready, 1, -1) >= 0 || errno == EINTR;
}

}  // namespace

size_t ReadStandardInput(char* buffer, size_t capacity) {
  for (;;) {
    ssize_t count = read(STDIN_FILENO, buffer, capacity);
    if (count >= 0) {
      return static_cast<size_t>(count);
    }
    if (!CanTryAgain(STDIN_FILENO, POLLIN)) {
      return 0;
    }
  }
}

size_t WriteStandardStream(int descriptor, const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t count = write(descriptor, data + done, size - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count == 0 || !CanTryAgain(descriptor, POLLOUT)) {
      break;
    }
  }
  return done;
}

const char kLibrarySearchOrder[] =
    "LD_LIBRARY_PATH, the RUNPATH of the program or library that needs it, "
    "the loader cache (/etc/ld.so.cache), then /lib and /usr/lib";

LoadFailure LastLoadFailure() {
  const char* text = dlerror();
  LoadFailure failure;
  failure.text = text == nullptr ? "" : text;
  return failure;
}

std::string ModuleFilePath(ModuleHandle module) {
  link_map* map = nullptr;
  if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 ||
      map == nullptr || map->l_name == nullptr) {
    return std::string();
  }
  return map->l_name;
}

unsigned AnsiCodePage(std::string* name) {
  *name = "UTF-8";
  return 65001;
}

}  // namespace status_bridge
