#pragma once

// The few operating-system services the bridge needs, one implementation per
// platform (platform_posix.cpp, platform_win32.cpp), chosen by the build.

#include <cstddef>
#include <string>

namespace status_bridge {

// A loaded library; null when none.
using ModuleHandle = void*;
// The address of a resolved export, before it is given its real type.
using ExportAddress = void (*)();

// Converts a symbol address as the loader returns it into the function
// pointer type `Fn`. The one place where such addresses change type.
template <typename Fn, typename Raw>
Fn ExportAs(Raw raw) {
  return reinterpret_cast<Fn>(raw);
}

// The path below SDD_HOME at which the vendor library lies, written with the
// platform's separator (30 bytes).
extern const char kStatusLibraryBelowHome[];

// True where the standard input stream hands a CR LF line end to the reader
// unchanged, so that the line reader drops the CR itself.
extern const bool kLineReaderDropsCrBeforeLf;

// Prepares the process before its first read or write: a closed reader must
// not kill it, a crash must not wait on a dialog, and an exception that
// escapes (exhausted memory) must end it with EndProcessAbnormally.
void PrepareProcess();

// Ends the process at once with a status that no exit code of the bridge can
// be mistaken for.
[[noreturn]] void EndProcessAbnormally();

// The value of the environment variable `name` as UTF-8 bytes, or an empty
// string when it is unset or empty.
std::string ReadPathVariable(const char* name);

// Whether the environment variable `name` is exactly "1". Reads the variable
// afresh and builds no string.
bool SwitchIsOn(const char* name);

// Keeps a private duplicate of standard output for the answers and points
// the process's standard output at standard error, or at the null device
// when standard error is closed. Whatever a library of the process then
// writes to standard output, through a C runtime or the system's handle,
// never reaches the answers. The duplicate keeps the text mode. Returns its
// descriptor for WriteStandardStream; -1 when standard output is closed.
int SeparateAnswerChannel();

// The bytes under which the vendor library, a program of the machine's ANSI
// code page, knows `text`: `text` itself when it is ASCII, when it is not
// valid UTF-8 (bytes already in the code page) or when the code page is
// UTF-8, as on POSIX; otherwise `ansi`, set to `text` converted from UTF-8.
// Null when the code page has no exact form for one of its characters; a
// best-fit look-alike does not count.
const std::string* ConvertToAnsiCodePage(const std::string& text,
                                         std::string* ansi);

// Loads the library at `path`, UTF-8 bytes, with the platform's default
// search rules; returns null on failure, the empty path included. Windows
// loads it by its UTF-16 form, in which each malformed UTF-8 sequence is
// U+FFFD; POSIX passes the bytes as they are.
ModuleHandle LoadLibraryFromPath(const std::string& path);

// The symbol under which a library of this platform exports the
// MSVC-decorated `name`.
std::string ExportSymbolName(const char* name);

// Resolves the export with the MSVC-decorated `name` in `module`; returns null
// when it is absent.
ExportAddress FindExport(ModuleHandle module, const char* name);

// Releases a library obtained from LoadLibraryFromPath.
void ReleaseLibrary(ModuleHandle module);

// Reads at most `capacity` bytes of standard input into `buffer` through the
// C runtime's descriptor 0 (in its text mode), waiting until at least one byte
// is there (on POSIX also when the descriptor is non-blocking). Returns how
// many bytes were read; 0 at the end of the input and on a read error, which
// counts as the end.
size_t ReadStandardInput(char* buffer, size_t capacity);

// Writes `size` bytes at `data` to the C runtime's descriptor `descriptor`
// (the answer channel, or 2 for standard error) in its text mode. Goes on
// after a partial write, and waits while a non-blocking descriptor is full.
// Returns how many bytes were written: `size`, or fewer when a write failed.
size_t WriteStandardStream(int descriptor, const char* data, size_t size);

// What the diagnosis (--diagnose) asks of the system follows.

// Why the last LoadLibraryFromPath failed, read at once after it: the
// system's error code and its text in UTF-8 (GetLastError and FormatMessageW
// on Windows; on POSIX the code is 0 and the text is dlerror's).
struct LoadFailure {
  unsigned code = 0;
  std::string text;
};
LoadFailure LastLoadFailure();

// The file from which the loaded `module` came, in UTF-8; empty when unknown.
std::string ModuleFilePath(ModuleHandle module);

// The running program's own file, in UTF-8, where the diagnosis reads the
// runtime DLLs it imports (Windows); empty elsewhere.
std::string ProgramFilePath();

// The number of the ANSI code page, in which the vendor reads its strings,
// and its name in `name`. POSIX builds count as UTF-8 (65001).
unsigned AnsiCodePage(std::string* name);

// Where the platform looks for a library given by bare name, and for the
// libraries that a library needs, for a person to read.
extern const char kLibrarySearchOrder[];

}  // namespace status_bridge
