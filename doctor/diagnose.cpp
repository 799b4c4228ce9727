#include "doctor/diagnose.h"

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>
#include <system_error>

#include "doctor/pe_image.h"
#include "platform/platform.h"
#include "protocol/exit_codes.h"
#include "status_library/loader.h"

namespace status_bridge {

namespace {

// Windows' error codes of a failed load that the diagnosis explains.
constexpr unsigned kErrorModuleNotFound = 126;
constexpr unsigned kErrorBadExeFormat = 193;
constexpr unsigned kErrorDllInitFailed = 1114;

// The machine type of the program itself: the only one it can load.
constexpr std::uint16_t kOwnMachine =
    sizeof(void*) == 4 ? kMachineX86 : kMachineX64;

// Writes one line of the report: `pieces` in turn.
void Report(AnswerWriter* out, std::initializer_list<std::string_view> pieces) {
  out->line.clear();
  for (std::string_view piece : pieces) {
    out->line.append(piece.data(), piece.size());
  }
  out->line.push_back('\n');
  WriteAnswerLine(out);
}

// What the file at a path is.
enum class FileKind { kMissing, kNotRegular, kNotPe, kPe };

// Reads the PE headers of the regular file at the UTF-8 `path`, and no more
// of it; a device, a pipe or a folder is never opened.
FileKind ReadPeFile(const std::string& path, PeImage* image) {
  std::filesystem::path file_path = std::filesystem::u8path(path);
  std::error_code error;
  std::filesystem::file_status status =
      std::filesystem::status(file_path, error);
  if (!std::filesystem::exists(status)) {
    return FileKind::kMissing;
  }
  if (!std::filesystem::is_regular_file(status)) {
    return FileKind::kNotRegular;
  }
  std::ifstream file(file_path, std::ios::binary);
  if (!file) {
    return FileKind::kMissing;
  }
  return ReadPeImage(file, image) ? FileKind::kPe : FileKind::kNotPe;
}

std::string Describe(const LoadFailure& failure) {
  return failure.code == 0
             ? failure.text
             : "error " + std::to_string(failure.code) + ": " + failure.text;
}

// Loads `name` as the loader would load a dependency. Returns whether it was
// found, with its file or the failure in `where`.
bool Locate(const std::string& name, std::string* where) {
  ModuleHandle module = LoadLibraryFromPath(name);
  if (module == nullptr) {
    *where = Describe(LastLoadFailure());
    return false;
  }
  *where = ModuleFilePath(module);
  ReleaseLibrary(module);
  return true;
}

// Says which dependencies of the library the search order cannot find.
void ReportMissingDependencies(AnswerWriter* out, const PeImage& image) {
  bool all_found = true;
  for (const std::string& name : image.imports) {
    std::string where;
    if (!Locate(name, &where)) {
      Report(out, {"dependency ", name, ": NOT FOUND (", where, ")"});
      all_found = false;
    }
  }
  if (all_found) {
    Report(out, {"dependencies: the ", std::to_string(image.imports.size()),
                 " DLLs it imports are all found; one of theirs may be "
                 "missing"});
  }
  Report(out, {"fix: put the folder that holds the missing DLLs (usually the "
               "folder of LMCDLL70.dll) on PATH; dependencies are searched in ",
               kLibrarySearchOrder});
}

// Reports how loading went, and returns the exit code that the library
// stage of a run would give.
int ReportLoad(AnswerWriter* out, const StatusLibrary& library, bool by_name,
               const PeImage* image) {
  if (library.load == StatusLibraryLoad::kLoadFailed) {
    unsigned code = library.failure.code;
    Report(out, {"load: FAILED (", Describe(library.failure), ")"});
    if (code == kErrorModuleNotFound && image != nullptr) {
      ReportMissingDependencies(out, *image);
    } else if (code == kErrorModuleNotFound && by_name) {
      Report(out, {"fix: set LMCDLL70_PATH to the full path of LMCDLL70.dll"});
    } else if (code == kErrorBadExeFormat) {
      Report(out,
             {"fix: the file is not a DLL that this ", MachineName(kOwnMachine),
              " program can load; use the vendor's 32-bit LMCDLL70.dll"});
    } else if (code == kErrorDllInitFailed) {
      Report(out, {"fix: the library's own initialisation failed; check its "
                   "installation and licence with the vendor's tools"});
    }
    return kExitLoadFailed;
  }
  Report(out, {"load: loaded from ", ModuleFilePath(library.module)});
  ReleaseLibrary(library.module);
  if (library.load == StatusLibraryLoad::kExportMissing) {
    Report(out, {"export: MISSING (the library has no IsVerifiedReuseBlock "
                 "under its decorated name: another version or another "
                 "library of the same name)"});
    return kExitExportMissing;
  }
  Report(out, {"export: IsVerifiedReuseBlock found"});
  return kExitOk;
}

}  // namespace

int RunDiagnosis(AnswerWriter* out) {
  Report(out, {"status-bridge diagnosis"});
  const char* variable = nullptr;
  std::string path = ResolveStatusLibraryPath(&variable);
  if (variable == nullptr) {
    Report(out,
           {"library path: ", path, " (neither ", kStatusLibraryPathVariable,
            " nor ", kHomeVariable, " is set: the bare name, searched in ",
            kLibrarySearchOrder, ")"});
  } else {
    Report(out,
           {"library path: ", path, " (from ", variable,
            variable == kHomeVariable ? " and " : "",
            variable == kHomeVariable ? kStatusLibraryBelowHome : "", ")"});
  }

  bool by_name = path.find_first_of("/\\") == std::string::npos;
  PeImage image;
  FileKind kind = by_name ? FileKind::kMissing : ReadPeFile(path, &image);
  if (by_name) {
    Report(out, {"file: found only by the search order, if at all"});
  } else if (kind == FileKind::kMissing) {
    Report(out,
           {"file: NOT FOUND or unreadable; check LMCDLL70_PATH and SDD_HOME"});
  } else if (kind == FileKind::kNotRegular) {
    Report(out, {"file: NOT A FILE (a folder, a device or a pipe); name the "
                 "DLL itself"});
  } else if (kind == FileKind::kNotPe) {
    Report(out, {"file: found, not a Windows DLL"});
  } else if (image.machine != kOwnMachine) {
    Report(out, {"file: found, ", MachineName(image.machine),
                 " DLL: this bridge is ", MachineName(kOwnMachine),
                 " and cannot load it"});
  } else {
    Report(out, {"file: found, ", MachineName(image.machine), " DLL"});
  }

  // Not even the loader opens what is not a regular file: a pipe or a
  // device could block it or feed it without end.
  int result = kind == FileKind::kNotRegular
                   ? kExitLoadFailed
                   : ReportLoad(out, LoadStatusLibrary(path), by_name,
                                kind == FileKind::kPe ? &image : nullptr);
  if (PrivateCallEnabled()) {
    Report(out, {"private call: ", kPrivateCallVariable, " is 1"});
  } else {
    Report(out, {"private call: NOT ENABLED (", kPrivateCallVariable,
                 " must be exactly 1; without it requests end with exit code "
                 "4)"});
    result = result == kExitOk ? kExitPrivateCallDisabled : result;
  }

  std::string code_page_name;
  unsigned code_page = AnsiCodePage(&code_page_name);
  Report(out,
         {"ANSI code page: ", std::to_string(code_page), " (", code_page_name,
          "); the library reads file and block names in it"});
  // The program's own DLLs, and which copy of each was loaded (Windows).
  PeImage program;
  std::string program_path = ModuleFilePath(nullptr);
  if (!program_path.empty() &&
      ReadPeFile(program_path, &program) == FileKind::kPe) {
    for (const std::string& name : program.imports) {
      std::string where;
      if (name.compare(0, 7, "api-ms-") != 0) {  // Parts of the system's CRT.
        bool found = Locate(name, &where);
        Report(out, {"runtime ", name, ": ", found ? "" : "NOT FOUND (", where,
                     found ? "" : ")"});
      }
    }
  }
  Report(out,
         {result == kExitOk ? "result: ready to serve requests (exit code 0)"
                            : "result: a run would end with exit code ",
          result == kExitOk ? "" : std::to_string(result)});
  return result;
}

}  // namespace status_bridge
