#include "doctor/diagnose.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

#include "doctor/pe_image.h"
#include "platform/platform.h"
#include "protocol/exit_codes.h"
#include "status_library/path.h"
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

void Report(const std::string& line) { std::cout << line << '\n'; }

// The whole file at the UTF-8 `path`; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string* bytes) {
  std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
  if (!file) {
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(file),
                std::istreambuf_iterator<char>());
  return !file.bad();
}

std::string Describe(const LoadFailure& failure) {
  if (failure.code == 0) {
    return failure.text;
  }
  return "error " + std::to_string(failure.code) + ": " + failure.text;
}

// Loads `name` as the loader would load a dependency; "" when it is found,
// else the failure.
std::string FindByName(const std::string& name, std::string* found_at) {
  ModuleHandle module = LoadLibraryFromPath(name);
  if (module == nullptr) {
    return Describe(LastLoadFailure());
  }
  *found_at = ModuleFilePath(module);
  ReleaseLibrary(module);
  return std::string();
}

// Says which dependencies of the library the search order cannot find.
void ReportMissingDependencies(const PeImage& image) {
  int missing = 0;
  for (const std::string& name : image.imports) {
    std::string found_at;
    std::string failure = FindByName(name, &found_at);
    if (!failure.empty()) {
      std::string line = "dependency ";
      line += name;
      line += ": NOT FOUND (";
      line += failure;
      Report(line + ")");
      ++missing;
    }
  }
  if (missing == 0) {
    Report("dependencies: the " + std::to_string(image.imports.size()) +
           " DLLs it imports are all found; one of theirs may be missing");
  }
  Report(
      "fix: put the folder that holds the missing DLLs (usually the folder of "
      "LMCDLL70.dll) on PATH; dependencies are searched in " +
      std::string(kLibrarySearchOrder));
}

// Loads the library, checks the export, and returns the exit code that the
// library stage of a run would give.
int CheckLibrary(const std::string& path, bool by_name, const PeImage* image) {
  ModuleHandle module = LoadLibraryFromPath(path);
  if (module == nullptr) {
    LoadFailure failure = LastLoadFailure();
    Report("load: FAILED (" + Describe(failure) + ")");
    if (failure.code == kErrorModuleNotFound && image != nullptr) {
      ReportMissingDependencies(*image);
    } else if (failure.code == kErrorModuleNotFound && by_name) {
      Report("fix: set LMCDLL70_PATH to the full path of LMCDLL70.dll");
    } else if (failure.code == kErrorBadExeFormat) {
      Report("fix: the file is not a DLL that this " +
             MachineName(kOwnMachine) +
             " program can load; use the vendor's 32-bit LMCDLL70.dll");
    } else if (failure.code == kErrorDllInitFailed) {
      Report(
          "fix: the library's own initialisation failed; check its "
          "installation and licence with the vendor's tools");
    }
    return kExitLoadFailed;
  }
  Report("load: loaded from " + ModuleFilePath(module));
  bool found = FindExport(module, kIsVerifiedReuseBlockExportName) != nullptr;
  ReleaseLibrary(module);
  Report(found ? "export: IsVerifiedReuseBlock found"
               : "export: MISSING (the library has no IsVerifiedReuseBlock "
                 "under its decorated name: another version or another "
                 "library of the same name)");
  return found ? kExitOk : kExitExportMissing;
}

}  // namespace

int RunDiagnosis() {
  Report("status-bridge diagnosis");
  std::string path = ResolveStatusLibraryPath();
  bool by_name = path.find_first_of("/\\") == std::string::npos;
  if (!ReadPathVariable(kStatusLibraryPathVariable).empty()) {
    Report("library path: " + path + " (from LMCDLL70_PATH)");
  } else if (!ReadPathVariable(kHomeVariable).empty()) {
    Report("library path: " + path + " (from SDD_HOME and " +
           kStatusLibraryBelowHome + ")");
  } else {
    Report("library path: " + path +
           " (neither LMCDLL70_PATH nor SDD_HOME is set: the bare name, "
           "searched in " +
           kLibrarySearchOrder + ")");
  }

  std::string bytes;
  PeImage image;
  bool pe = false;
  if (by_name) {
    Report("file: found only by the search order, if at all");
  } else if (!ReadWholeFile(path, &bytes)) {
    Report("file: NOT FOUND or unreadable; check LMCDLL70_PATH and SDD_HOME");
  } else if (!(pe = ReadPeImage(bytes, &image))) {
    Report("file: found, not a Windows DLL");
  } else if (image.machine != kOwnMachine) {
    Report("file: found, " + MachineName(image.machine) +
           " DLL: this bridge is " + MachineName(kOwnMachine) +
           " and cannot load it");
  } else {
    Report("file: found, " + MachineName(image.machine) + " DLL");
  }

  int result = CheckLibrary(path, by_name, pe ? &image : nullptr);
  if (PrivateCallEnabled()) {
    Report(std::string("private call: ") + kPrivateCallVariable + " is 1");
  } else {
    Report(std::string("private call: NOT SET (") + kPrivateCallVariable +
           " must be exactly 1; without it requests end with exit code 4)");
    if (result == kExitOk) {
      result = kExitPrivateCallDisabled;
    }
  }

  std::string code_page_name;
  unsigned code_page = AnsiCodePage(&code_page_name);
  Report("ANSI code page: " + std::to_string(code_page) + " (" +
         code_page_name + "); the vendor reads file and block names in it");

  // The program's own DLLs, and which copy of each was loaded.
  PeImage program;
  std::string program_bytes;
  std::string program_path = ProgramFilePath();
  if (!program_path.empty() && ReadWholeFile(program_path, &program_bytes) &&
      ReadPeImage(program_bytes, &program)) {
    for (const std::string& name : program.imports) {
      if (name.compare(0, 7, "api-ms-") == 0) {
        continue;  // Parts of the system's C runtime, not files of their own.
      }
      std::string found_at;
      std::string failure = FindByName(name, &found_at);
      Report("runtime " + name + ": " +
             (failure.empty() ? found_at : "NOT FOUND (" + failure + ")"));
    }
  }

  Report(result == kExitOk ? "result: ready to serve requests (exit code 0)"
                           : "result: a run would end with exit code " +
                                 std::to_string(result));
  return result;
}

}  // namespace status_bridge
