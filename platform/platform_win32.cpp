#include "platform/platform.h"

// libstdc++ defines NOMINMAX itself on mingw; MSVC's headers do not.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#if defined(_MSC_VER)
#include <werapi.h>
#else
// mingw-w64's <werapi.h> (10.0) does not compile: it uses HREPORT without
// defining it. WerSetFlags is in kernel32 (Windows Vista and later, Wine).
extern "C" HRESULT WINAPI WerSetFlags(DWORD flags);
#endif

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

namespace status_bridge {

const char kStatusLibraryBelowHome[] = "\\common\\win32\\lib\\LMCDLL70.dll";

// The C runtime's text mode turns each CR LF into LF before the reader sees
// it; a CR that reaches the reader is an ordinary byte of the line.
const bool kLineReaderDropsCrBeforeLf = false;

namespace {

// MultiByteToWideChar's code page for UTF-8 (CP_UTF8).
constexpr UINT kUtf8CodePage = 65001;

// The status of an abnormal end: "no memory" (STATUS_NO_MEMORY), which no
// caller can take for an exit code of the bridge. abort() would end the
// process with 3, the code of a missing export.
constexpr UINT kAbnormalEndStatus = 0xC0000017;

// WerSetFlags' WER_FAULT_REPORTING_NO_UI, as the Windows SDK's <werapi.h>
// defines it; mingw-w64's <werapi.h> lacks the constant, and WerSetFlags'
// reference page does not list it.
constexpr DWORD kWerFaultReportingNoUi = 0x00000020;
#ifdef WER_FAULT_REPORTING_NO_UI
static_assert(WER_FAULT_REPORTING_NO_UI == kWerFaultReportingNoUi,
              "the SDK's value");
#endif

// `bytes` as UTF-16, converted with `flags` (0, or MB_ERR_INVALID_CHARS);
// empty when it is empty or cannot be converted.
std::wstring Utf8ToWide(const std::string& bytes, DWORD flags) {
  if (bytes.empty() || bytes.size() > INT_MAX) {
    return std::wstring();
  }
  int byte_count = static_cast<int>(bytes.size());
  int wide_length = MultiByteToWideChar(kUtf8CodePage, flags, bytes.data(),
                                        byte_count, nullptr, 0);
  if (wide_length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(wide_length), L'\0');
  MultiByteToWideChar(kUtf8CodePage, flags, bytes.data(), byte_count, &wide[0],
                      wide_length);
  return wide;
}

// `wide` in UTF-8; empty when it is empty or cannot be converted.
std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  int wide_length = static_cast<int>(wide.size());
  int byte_count = WideCharToMultiByte(
      kUtf8CodePage, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  if (byte_count <= 0) {
    return std::string();
  }
  std::string bytes(static_cast<size_t>(byte_count), '\0');
  WideCharToMultiByte(kUtf8CodePage, 0, wide.data(), wide_length, &bytes[0],
                      byte_count, nullptr, nullptr);
  return bytes;
}

}  // namespace

void PrepareProcess() {
  // An access violation inside the library must end the process at once,
  // not behind a dialog while the caller waits: neither the legacy fault
  // box nor Windows Error Reporting's window may show.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
               SEM_NOOPENFILEERRORBOX);
  WerSetFlags(kWerFaultReportingNoUi);
  std::set_terminate(EndProcessAbnormally);
}

void EndProcessAbnormally() {
  TerminateProcess(GetCurrentProcess(), kAbnormalEndStatus);
  // Not reached: terminating the own process does not return.
  ExitProcess(kAbnormalEndStatus);
}

namespace {

// The ASCII constant `name` widened, as the wide environment takes it.
struct WideName {
  explicit WideName(const char* name) {
    std::copy_n(name, std::min<size_t>(std::strlen(name), 63), text);
  }
  wchar_t text[64] = {};
};

}  // namespace

std::string ReadPathVariable(const char* name) {
  // From the wide environment, which holds what the parent passed: the
  // narrow one has the value in the ANSI code page (GBK on a Chinese
  // Windows, '?' for what it lacks), and a library below a non-ASCII folder
  // would fail to load. msvcrt.dll's _wgetenv, which the mingw build would
  // use, is built from the narrow environment and is no substitute.
  WideName wide_name(name);
  std::wstring value;
  DWORD size = GetEnvironmentVariableW(wide_name.text, nullptr, 0);
  if (size > 1) {
    value.resize(size);
    DWORD length = GetEnvironmentVariableW(wide_name.text, &value[0], size);
    value.resize(length < size ? length : 0);  // It grew: read as unset.
  }
  return WideToUtf8(value);
}

bool SwitchIsOn(const char* name) {
  // Room for "1" and one more character: a longer value reads as off.
  wchar_t value[3] = {};
  return GetEnvironmentVariableW(WideName(name).text, value, 3) == 1 &&
         value[0] == L'1';
}

int SeparateAnswerChannel() {
  // _dup keeps the descriptor's text mode, so answers still end in CR LF.
  int answers = _dup(1);
  int sink = _dup2(2, 1) == 0 ? 1 : _open("NUL", _O_WRONLY | _O_TEXT);
  if (sink > 1) {
    _dup2(sink, 1);
    _close(sink);
  }
  // A library with a C runtime of its own takes its standard output from
  // the process's handle when it is loaded; others write to the handle.
  SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
  return answers;
}

const std::string* ConvertToAnsiCodePage(const std::string& text,
                                         std::string* ansi) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char byte) {
    return static_cast<unsigned char>(byte) < 0x80;
  });
  if (ascii || GetACP() == kUtf8CodePage || text.size() > INT_MAX) {
    return &text;
  }
  std::wstring wide = Utf8ToWide(text, MB_ERR_INVALID_CHARS);
  if (wide.empty()) {
    return &text;  // Not UTF-8: passed on as the caller wrote it.
  }
  int wide_length = static_cast<int>(wide.size());
  // Without WC_NO_BEST_FIT_CHARS a character the code page lacks may become a
  // look-alike (U+0101 as "a" in code page 1252), which names another file or
  // block; with it, such a character sets `used_default` instead.
  BOOL used_default = FALSE;
  int ansi_length =
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                          wide_length, nullptr, 0, nullptr, &used_default);
  if (ansi_length == 0 || used_default) {
    return nullptr;
  }
  ansi->assign(static_cast<size_t>(ansi_length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wide_length,
                      &(*ansi)[0], ansi_length, nullptr, nullptr);
  return ansi;
}

ModuleHandle LoadLibraryFromPath(const std::string& path) {
  std::wstring wide = Utf8ToWide(path, 0);
  if (wide.empty()) {
    return nullptr;
  }
  // Plain LoadLibraryW: the default search order applies to a bare name and
  // to the library's own dependencies.
  return LoadLibraryW(wide.c_str());
}

std::string ExportSymbolName(const char* name) {
  // A PE export table carries the MSVC-decorated name as it stands.
  return std::string(name);
}

ExportAddress FindExport(ModuleHandle module, const char* name) {
  return ExportAs<ExportAddress>(GetProcAddress(
      static_cast<HMODULE>(module), ExportSymbolName(name).c_str()));
}

void ReleaseLibrary(ModuleHandle module) {
  FreeLibrary(static_cast<HMODULE>(module));
}

size_t ReadStandardInput(char* buffer, size_t capacity) {
  // _read applies the text mode of descriptor 0: CR LF arrives as LF.
  unsigned count = static_cast<unsigned>(std::min<size_t>(capacity, INT_MAX));
  int read = _read(0, buffer, count);
  return read > 0 ? static_cast<size_t>(read) : 0;
}

size_t WriteStandardStream(int descriptor, const char* data, size_t size) {
  // _write applies the text mode of the descriptor: each LF leaves as CR LF.
  // It returns how many of the given bytes it took, CRs not counted. A failed
  // _write leaves nothing behind that would stop the next one.
  size_t done = 0;
  while (done < size) {
    unsigned count =
        static_cast<unsigned>(std::min<size_t>(size - done, INT_MAX));
    int written = _write(descriptor, data + done, count);
    if (written <= 0) {
      break;
    }
    done += static_cast<size_t>(written);
  }
  return done;
}

const char kLibrarySearchOrder[] =
    "the program's folder, the system folder, the Windows folder, the current "
    "folder, then the folders on PATH (never the folder of the library that "
    "needs it)";

LoadFailure LastLoadFailure() {
  LoadFailure failure;
  failure.code = GetLastError();
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
          FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, failure.code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (text != nullptr) {
    std::wstring wide(text, length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\r' || wide.back() == L'\n' ||
                             wide.back() == L' ')) {
      wide.pop_back();
    }
    failure.text = WideToUtf8(wide);
  }
  return failure;
}

std::string ModuleFilePath(ModuleHandle module) {
  std::wstring path(32768, L'\0');  // The longest path Windows allows.
  DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), &path[0],
                                    static_cast<DWORD>(path.size()));
  path.resize(length < path.size() ? length : 0);
  return WideToUtf8(path);
}

unsigned AnsiCodePage(std::string* name) {
  // CodePageName reads "1252  (ANSI - Latin I)": the name is the part in
  // parentheses.
  CPINFOEXW info = {};
  name->clear();
  if (GetCPInfoExW(CP_ACP, 0, &info)) {
    std::wstring full(info.CodePageName);
    std::wstring::size_type open = full.find(L'(');
    std::wstring::size_type close = full.rfind(L')');
    *name = open != std::wstring::npos && close > open
                ? WideToUtf8(full.substr(open + 1, close - open - 1))
                : WideToUtf8(full);
  }
  return GetACP();
}

}  // namespace status_bridge
