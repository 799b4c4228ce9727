#include "tests/e2e/target.h"

#include <cstdlib>

namespace e2e {

namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

Target MakeTarget() {
  Target target;
  std::string launcher = FromEnv("STATUS_BRIDGE_E2E_LAUNCHER", "");
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
                                   target.vendor_library.c_str());
  target.vendor_with_dependency =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_WITH_DEPENDENCY", "");
  target.vendor_other_bitness =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_OTHER_BITNESS", "");
  target.vendor_failing_init =
      FromEnv("STATUS_BRIDGE_E2E_VENDOR_FAILING_INIT", "");
  const std::string windows = FromEnv("STATUS_BRIDGE_E2E_WINDOWS", "0");
  target.windows = windows == "1" || windows == "64";
  target.win64 = windows == "64";
  target.memcheck = FromEnv("STATUS_BRIDGE_E2E_MEMCHECK", "0") == "1";
  target.line_end = target.windows ? "\r\n" : "\n";
  for (const char* name : {"PATH", "HOME", "WINEPREFIX", "WINEDEBUG", "LC_ALL",
                           "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
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
  if (!GetTarget().windows) {
    return host_path;
  }
  // Wine shows the host's root as drive Z.
  std::string path = "Z:" + host_path;
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  return path;
}

}  // namespace e2e
