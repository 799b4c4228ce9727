#pragma once

// The build of the bridge under test and the stand-in libraries beside it.
// The defaults name the build that this suite was built with; environment
// variables point the same suite at another build (see target.cpp).

#include <string>
#include <vector>

#include "tests/e2e/process_runner.h"

namespace e2e {

struct Target {
  std::vector<std::string> command;   // Runs the bridge, before its arguments.
  std::string vendor_library;         // Stand-in vendor library with export.
  std::string vendor_without_export;  // Stand-in vendor library without it.
  std::string vendor_throwing;        // One whose throw rules really throw.
  // Windows only: a stand-in that needs a DLL lying beside it, and a DLL of
  // the other bitness than the bridge's; empty elsewhere.
  std::string vendor_with_dependency;
  std::string vendor_other_bitness;
  std::string vendor_failing_init;  // And one whose initialisation fails.
  std::string line_end;             // What an LF written by the bridge becomes.
  bool windows = false;             // The bridge is a Windows program.
  // The 64-bit Windows test build: it has no MSVC-ABI vendor library (the
  // vendor's ABI is a 32-bit one) and no 2 GiB address space.
  bool win64 = false;
  // The production build (MSVC, shared MFC runtime), tested against the
  // stand-in built with MFC: it catches the vendor's C++ exceptions, MFC's
  // included, and there is no mingw-built stand-in.
  bool msvc = false;
  // LC_ALL in a run's environment sets the bridge's ANSI code page: Wine
  // started from the Linux side takes it from there. A bridge that a Windows
  // program starts keeps the code page of its parent's Wine, or on Windows
  // the system's.
  bool locale_sets_code_page = false;
  // The launcher runs the bridge under valgrind's memcheck, which needs more
  // address space for itself than any limit a test could set.
  bool memcheck = false;
  Environment base_env;  // Given to every run.
};

const Target& GetTarget();

// `host_path` as the bridge under test spells it.
std::string TargetPath(const std::string& host_path);

}  // namespace e2e
