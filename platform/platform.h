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

// The status library's place below SDD_HOME, with the platform's separator.
extern const char kStatusLibraryBelowHome[];

// True where standard input hands a CR LF to the reader unchanged, so that
// the line reader drops the CR itself.
extern const bool kLineReaderDropsCrBeforeLf;

// Prepares the process: a closed reader must not kill it, a crash must not
// wait on a dialog, an escaping exception ends it with EndProcessAbnormally.
void PrepareProcess();

// Ends the process at once with a status no exit code can be taken for.
[[noreturn]] void EndProcessAbnormally();

// The environment variable `name` in UTF-8; empty when unset or empty.
std::string ReadPathVariable(const char* name);

// Whether the environment variable `name` is exactly "1"; builds no string.
bool SwitchIsOn(const char* name);

// Keeps a private duplicate of standard output, in its text mode, for the
// answers, and points standard output (a C runtime's or the system's
// handle) at standard error, or the null device when that is closed.
// Returns the duplicate's descriptor; -1 when standard output is closed.
int SeparateAnswerChannel();

// `text` as the status library, a program of the ANSI code page, knows it:
// `text` itself when it is ASCII, not valid UTF-8 or the code page is UTF-8
// (as on POSIX), else `ansi` set to its conversion. Null when the code page
// has no exact form for a character; a best-fit look-alike does not count.
const std::string* ConvertToAnsiCodePage(const std::string& text,
                                         std::string* ansi);

// Loads the library at the UTF-8 `path` with the default search rules (on
// Windows by its UTF-16 form); null on failure, the empty path included.
ModuleHandle LoadLibraryFromPath(const std::string& path);

// The symbol under which a library of this platform exports the
// MSVC-decorated `name`.
std::string ExportSymbolName(const char* name);

// Resolves the export with the MSVC-decorated `name` in `module`; returns null
// when it is absent.
ExportAddress FindExport(ModuleHandle module, const char* name);

// Releases a library obtained from LoadLibraryFromPath.
void ReleaseLibrary(ModuleHandle module);

// Reads at most `capacity` bytes of standard input (descriptor 0, in its
// text mode), waiting for at least one, also when it is non-blocking.
// Returns how many; 0 at the end of the input or on a read error.
size_t ReadStandardInput(char* buffer, size_t capacity);

// Writes `size` bytes to `descriptor` (the answer channel, or 2) in its text
// mode, going on after a partial write and waiting while a non-blocking one
// is full. Returns how many were written: fewer than `size` on a failure.
size_t WriteStandardStream(int descriptor, const char* data, size_t size);

// What the diagnosis (--diagnose) asks of the system follows.

// Why the last LoadLibraryFromPath failed, read at once after it: Windows'
// error code and text, or on POSIX code 0 and dlerror's text.
struct LoadFailure {
  unsigned code = 0;
  std::string text;
};
LoadFailure LastLoadFailure();

// The file from which the loaded `module` came, in UTF-8; empty when unknown.
// For null, the program's own file on Windows, empty elsewhere.
std::string ModuleFilePath(ModuleHandle module);

// The ANSI code page's number and name; POSIX counts as UTF-8 (65001).
unsigned AnsiCodePage(std::string* name);

// Where a bare library name and a library's dependencies are searched.
extern const char kLibrarySearchOrder[];

}  // namespace status_bridge
