#include "tests/e2e/target.h"

#include <cstdlib>

namespace e2e {

namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// `path` spelt with backslashes; a path from the Linux side, as a cross
// build's paths are, gets the drive under which Wine shows the host's root.
std::string WindowsPath(const std::string& path) {
  std::string windows = path.rfind('/', 0) == 0 ? "Z:" + path : path;
  for (char& c : windows) {
    if (c == '/') {
      c = '\\';
    }
  }
  return windows;
}

Target MakeTarget() {
  Target target;
  // A launcher (Wine) starts a Windows bridge from the Linux side; a Windows
  // program starts it itself, whatever launcher a shell still exports.
  std::string launcher =
      RunsAsWindowsProgram() ? "" : FromEnv("STATUS_BRIDGE_E2E_LAUNCHER", "");
  if (!launcher.empty()) {
    target.command.push_back(launcher);
  }
  target.command.push_back(
      FromEnv("STATUS_BRIDGE_E2E_PROGRAM", STATUS_BRIDGE_PROGRAM));
  target.vendor_library =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR", STATUS_BRIDGE_STANDIN_VENDOR);
  target.vendor_without_export =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_NO_EXPORT",
              STATUS_BRIDGE_STANDIN_VENDOR_NO_EXPORT);
  target.vendor_throwing = FromEnv("STATUS_BRIDGE_E2E_VENDOR_THROWING",
                                   STATUS_BRIDGE_STANDIN_VENDOR_THROWING);
  target.vendor_with_dependency =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_WITH_DEPENDENCY", "");
  target.vendor_other_bitness =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_OTHER_BITNESS", "");
  target.vendor_failing_init =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_FAILING_INIT", "");
  if (RunsAsWindowsProgram()) {
    // This program and the bridge are built together, for one platform.
    target.windows = true;
    target.win64 = sizeof(void*) == 8;
    target.msvc = STATUS_BRIDGE_E2E_MSVC != 0;
    for (std::string* path :
         {&target.command.back(), &target.vendor_library,
          &target.vendor_without_export, &target.vendor_throwing,
          &target.vendor_with_dependency, &target.vendor_other_bitness,
          &target.vendor_failing_init}) {
      *path = WindowsPath(*path);
    }
  } else {
    // The native build, or a Windows build run through a launcher (Wine).
    const std::string windows = FromEnv("STATUS_BRIDGE_E2E_WINDOWS", "0");
    target.windows = windows == "1" || windows == "64";
    target.win64 = windows == "64";
    target.locale_sets_code_page = target.windows;  // Wine, from here.
  }
  target.memcheck = FromEnv("STATUS_BRIDGE_E2E_MEMCHECK", "0") == "1";
  target.line_end = target.windows ? "\r\n" : "\n";
  for (const char* name :
       {"PATH", "HOME", "WINEPREFIX", "WINEDEBUG", "LC_ALL", "ASAN_OPTIONS",
        "UBSAN_OPTIONS", "SystemRoot", "TEMP", "TMP"}) {
    if (const char* value = std::getenv(name)) {
      target.base_env.emplace_back(name, value);
    }
  }
  return target;
}

}  // namespace

const Target& GetTarget() {
  static const Target target = MakeTarget();
  return target;
}

std::string TargetPath(const std::string& host_path) {
  return GetTarget().windows ? WindowsPath(host_path) : host_path;
}

}  // namespace e2e
