#include <dlfcn.h>
#include <link.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>

#include "platform/platform.h"

namespace status_bridge {

const char kVendorLibraryBelowHome[] = "/common/win32/lib/LMCDLL70.dll";

// POSIX streams have no text mode: a CR LF line end reaches the reader whole.
const bool kLineReaderDropsCrBeforeLf = true;

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

// Decodes the UTF-8 sequence at `bytes[0..count)` and stores its code point
// in `code_point`, or U+FFFD when it is malformed. Returns the number of
// bytes consumed: the whole sequence, or the longest prefix of one that is
// valid so far (at least one byte), so each malformed sequence yields one
// U+FFFD.
int DecodeOne(const unsigned char* bytes, int count, char32_t* code_point) {
  unsigned char lead = bytes[0];
  int length;
  char32_t value;
  unsigned char second_min = 0x80;
  unsigned char second_max = 0xBF;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) {
      second_min = 0xA0;  // Shorter forms are overlong.
    } else if (lead == 0xED) {
      second_max = 0x9F;  // Higher values are surrogates.
    }
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) {
      second_min = 0x90;  // Shorter forms are overlong.
    } else if (lead == 0xF4) {
      second_max = 0x8F;  // Higher values lie beyond U+10FFFF.
    }
  } else {
    *code_point = kReplacementCharacter;
    return 1;
  }
  for (int i = 1; i < length; ++i) {
    unsigned char min = i == 1 ? second_min : 0x80;
    unsigned char max = i == 1 ? second_max : 0xBF;
    if (i >= count || bytes[i] < min || bytes[i] > max) {
      *code_point = kReplacementCharacter;
      return i;
    }
    value = (value << 6) | (bytes[i] & 0x3F);
  }
  *code_point = value;
  return length;
}

// Appends the UTF-8 form of `code_point` to `out`.
void AppendUtf8(char32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

}  // namespace

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

int ConvertUtf8ToWide(const char* bytes, int byte_count, wchar_t* out,
                      int out_size) {
  const auto* input = reinterpret_cast<const unsigned char*>(bytes);
  int written = 0;
  for (int pos = 0; pos < byte_count;) {
    char32_t code_point;
    pos += DecodeOne(input + pos, byte_count - pos, &code_point);
    if (out_size > 0) {
      if (written == out_size) {
        return 0;  // The buffer is too small.
      }
      out[written] = static_cast<wchar_t>(code_point);
    }
    ++written;
  }
  return written;
}

bool ConvertToAnsiCodePage(const std::string& text, std::string* ansi) {
  // The development build counts as a machine whose code page is UTF-8.
  *ansi = text;
  return true;
}

ModuleHandle LoadLibraryFromWidePath(const std::wstring& path) {
  if (path.empty()) {
    return nullptr;  // dlopen would hand back the program itself.
  }
  std::string bytes;
  for (wchar_t character : path) {
    AppendUtf8(static_cast<char32_t>(character), &bytes);
  }
  return dlopen(bytes.c_str(), RTLD_NOW | RTLD_LOCAL);
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

std::string ProgramFilePath() { return std::string(); }

unsigned AnsiCodePage(std::string* name) {
  *name = "UTF-8";
  return 65001;
}

}  // namespace status_bridge
