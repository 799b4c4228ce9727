// The stand-in vendor library as the vendor's own compiler builds it: MSVC
// ABI (clang --target=i686-pc-windows-msvc), linked with no C or C++ runtime
// at all, so kernel32 does the file and console work. The export is declared
// with the vendor's signature and string class; the compiler derives from it
// the decorated name and the MSVC by-value convention: the caller builds the
// block-name string in its 4-byte argument slot and this function destroys it
// when it returns.
//
// It behaves as the stand-in of the other builds (status_export.cpp): the
// same rules (lmc_rules.h), the same call log and the same unload note, with
// two differences that a C++ function of this ABI cannot avoid:
// - "verified-2" returns true: a C++ bool cannot carry the byte 2.
// - "throw-class" and "throw-int" raise the structured exception that an
//   MSVC C++ throw raises (code 0xE06D7363). There is no C++ runtime here to
//   build a thrown object, and none is needed: a mingw-built caller cannot
//   catch an MSVC exception in any case, so the process ends with that code,
//   as it would with a real MSVC-built vendor library.

#include "standin/cstring_runtime/standin_cstring.h"
#include "standin/status_library/lmc_rules.h"

// The kernel32 functions used, declared here: this build has no Windows SDK.
extern "C" {
using Handle = void*;
using Dword = unsigned long;
__declspec(dllimport) Handle
    __stdcall CreateFileA(const char* name, Dword access, Dword share,
                          void* security, Dword disposition, Dword flags,
                          Handle template_file);
__declspec(dllimport) int __stdcall ReadFile(Handle file, void* buffer,
                                             Dword size, Dword* read,
                                             void* overlapped);
__declspec(dllimport) int __stdcall WriteFile(Handle file, const void* buffer,
                                              Dword size, Dword* written,
                                              void* overlapped);
__declspec(dllimport) int __stdcall CloseHandle(Handle handle);
__declspec(dllimport) Dword
    __stdcall GetEnvironmentVariableA(const char* name, char* buffer,
                                      Dword size);
__declspec(dllimport) Handle __stdcall GetStdHandle(Dword which);
__declspec(dllimport) Handle __stdcall GetProcessHeap();
__declspec(dllimport) void* __stdcall HeapAlloc(Handle heap, Dword flags,
                                                Dword size);
__declspec(dllimport) int __stdcall HeapFree(Handle heap, Dword flags,
                                             void* memory);
__declspec(dllimport) void __stdcall Sleep(Dword milliseconds);
__declspec(dllimport) void __stdcall RaiseException(Dword code, Dword flags,
                                                    Dword argument_count,
                                                    const Dword* arguments);
}  // extern "C"

// The vendor's string class, as far as the export's name and convention need
// it: the narrow CStringT of the shared MFC runtime, here one stand-in string.
namespace ATL {
template <typename BaseType>
class ChTraitsCRT;

template <typename BaseType, class StringTraits>
class CStringT {
 public:
  CStringT(const CStringT& source) {
    StandInCStringCopy(&value_, &source.value_);
  }
  ~CStringT() { StandInCStringDestroy(&value_); }
  CStringT& operator=(const CStringT&) = delete;

  // The NUL-terminated text.
  const char* Text() const { return value_.text; }

 private:
  StandInCString value_;
};
}  // namespace ATL

template <typename BaseType, class StringIterator>
class StrTraitMFC_DLL;

using CStringA =
    ATL::CStringT<char, StrTraitMFC_DLL<char, ATL::ChTraitsCRT<char>>>;

namespace {

constexpr Dword kGenericRead = 0x80000000;
constexpr Dword kFileAppendData = 0x0004;
constexpr Dword kShareReadWrite = 0x0001 | 0x0002;
constexpr Dword kOpenExisting = 3;
constexpr Dword kOpenAlways = 4;
constexpr Dword kFileAttributeNormal = 0x80;
constexpr Dword kStdOutputHandle = static_cast<Dword>(-11);
constexpr Dword kDllProcessDetach = 0;
constexpr Dword kMsvcCppExceptionCode = 0xE06D7363;
constexpr Dword kExceptionNoncontinuable = 1;
Handle const kInvalidHandle = reinterpret_cast<Handle>(-1);

// The environment variable naming the file to which every call is logged.
constexpr char kCallLogVariable[] = "ORVEK_STANDIN_VENDOR_LOG";

// When this environment variable is set, the library writes kUnloadNote to
// standard output as it is unloaded, so a test can see when the bridge
// releases it relative to the bridge's own lines. With no C runtime there is
// no text mode to turn the LF into CR LF, so the note carries its CR.
constexpr char kUnloadNoteVariable[] = "ORVEK_STANDIN_VENDOR_UNLOAD_NOTE";
constexpr char kUnloadNote[] = "stand-in vendor library unloaded\r\n";

// A growable byte buffer on the process heap.
struct Bytes {
  char* data = nullptr;
  Dword size = 0;
  Dword capacity = 0;
};

// Frees the buffer of `bytes` and empties it.
void Release(Bytes* bytes) {
  if (bytes->data != nullptr) {
    HeapFree(GetProcessHeap(), 0, bytes->data);
  }
  *bytes = Bytes();
}

// Makes room for `more` bytes; false when the heap is exhausted.
bool Reserve(Bytes* bytes, Dword more) {
  if (bytes->capacity - bytes->size >= more) {
    return true;
  }
  Dword capacity = bytes->capacity == 0 ? 4096 : bytes->capacity;
  while (capacity - bytes->size < more) {
    capacity *= 2;
  }
  auto* data = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, capacity));
  if (data == nullptr) {
    return false;
  }
  for (Dword i = 0; i < bytes->size; ++i) {
    data[i] = bytes->data[i];
  }
  Dword size = bytes->size;
  Release(bytes);
  *bytes = Bytes{data, size, capacity};
  return true;
}

// Appends `length` bytes to the Bytes at `context` (an Emit function); drops
// them when the heap is exhausted.
void Append(const char* data, size_t length, void* context) {
  auto* bytes = static_cast<Bytes*>(context);
  if (!Reserve(bytes, static_cast<Dword>(length))) {
    return;
  }
  for (size_t i = 0; i < length; ++i) {
    bytes->data[bytes->size++] = data[i];
  }
}

// The value of the environment variable `name` as a NUL-terminated heap
// string; false when it is unset or empty.
bool ReadVariable(const char* name, Bytes* value) {
  Dword needed = GetEnvironmentVariableA(name, nullptr, 0);
  if (needed <= 1 || !Reserve(value, needed)) {
    return false;
  }
  Dword length = GetEnvironmentVariableA(name, value->data, needed);
  value->size = length;
  return length > 0 && length < needed;
}

// Appends the call's record to the log file, when one is named.
void LogCall(const char* block_name, int block_type, const char* lmc_file) {
  Bytes log_path;
  if (ReadVariable(kCallLogVariable, &log_path)) {
    Bytes record;
    standin::EmitCallRecord(block_name, block_type, lmc_file, Append, &record);
    Handle log =
        CreateFileA(log_path.data, kFileAppendData, kShareReadWrite, nullptr,
                    kOpenAlways, kFileAttributeNormal, nullptr);
    if (log != kInvalidHandle) {
      Dword written;
      WriteFile(log, record.data, record.size, &written, nullptr);
      CloseHandle(log);
    }
    Release(&record);
  }
  Release(&log_path);
}

// The rule text of the LMC file at `path`; empty when it cannot be read.
void ReadRules(const char* path, Bytes* text) {
  Handle file = CreateFileA(path, kGenericRead, kShareReadWrite, nullptr,
                            kOpenExisting, kFileAttributeNormal, nullptr);
  if (file == kInvalidHandle) {
    return;
  }
  constexpr Dword kChunk = 4096;
  Dword count = 0;
  while (Reserve(text, kChunk) &&
         ReadFile(file, text->data + text->size, kChunk, &count, nullptr) &&
         count > 0) {
    text->size += count;
  }
  CloseHandle(file);
}

// Writes kUnloadNote to standard output when its variable is set.
void WriteUnloadNote() {
  Bytes value;
  if (ReadVariable(kUnloadNoteVariable, &value)) {
    Dword written;
    WriteFile(GetStdHandle(kStdOutputHandle), kUnloadNote,
              sizeof(kUnloadNote) - 1, &written, nullptr);
  }
  Release(&value);
}

// Writes through an address the compiler cannot prove null, so the crash is
// a real access violation rather than an optimised-out store.
volatile uintptr_t crash_address = 0;

}  // namespace

namespace reusableBlocks {

// The block type: a 32-bit enumeration whose values the bridge passes on as
// numbers; these two are the words it knows.
enum eReuseBlockType { kReuseBlockLp = 0, kReuseBlockRul = 1 };

__declspec(dllexport) bool IsVerifiedReuseBlock(CStringA block_name,
                                                eReuseBlockType block_type,
                                                const CStringA& lmc_file) {
  LogCall(block_name.Text(), block_type, lmc_file.Text());
  Bytes rules;
  ReadRules(lmc_file.Text(), &rules);
  standin::Rule rule =
      standin::FindRule(rules.data, rules.size, block_name.Text());
  Release(&rules);
  switch (rule.outcome) {
    case standin::Outcome::kVerified:
    case standin::Outcome::kVerifiedTwo:
      return true;
    case standin::Outcome::kNotVerified:
      return false;
    case standin::Outcome::kPrintStdio:
    case standin::Outcome::kPrintHandle: {
      // No C runtime here: both write to the standard output handle.
      Dword written = 0;
      WriteFile(GetStdHandle(kStdOutputHandle), standin::kStandardOutputNote,
                sizeof(standin::kStandardOutputNote) - 1, &written, nullptr);
      return true;
    }
    case standin::Outcome::kSleep:
      Sleep(rule.milliseconds);
      return true;
    case standin::Outcome::kHang:
      for (;;) {
        Sleep(standin::kMaxSleepMilliseconds);
      }
    case standin::Outcome::kThrowClass:
    case standin::Outcome::kThrowInt:
      RaiseException(kMsvcCppExceptionCode, kExceptionNoncontinuable, 0,
                     nullptr);
      break;
    case standin::Outcome::kCrash:
      *reinterpret_cast<volatile int*>(crash_address) = 1;  // NOLINT
      break;
  }
  return false;
}

}  // namespace reusableBlocks

// The entry point in place of a C runtime's: nothing to set up; the unload
// note on every detach, on FreeLibrary and at the end of the process alike.
extern "C" int __stdcall _DllMainCRTStartup(void* /*module*/, Dword reason,
                                            void* /*reserved*/) {
  if (reason == kDllProcessDetach) {
    WriteUnloadNote();
  }
  return 1;
}
