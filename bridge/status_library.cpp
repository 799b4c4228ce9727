#include "bridge/status_library.h"

#include "bridge/library_path.h"
#include "process/exit_codes.h"
#include "process/trace.h"
#include "protocol/answer_lines.h"
#include "protocol/messages.h"

namespace status_bridge {

namespace {

bool PrivateCallAllowed() {
  return ReadPathVariable(kAllowPrivateVariable) == "1";
}

}  // namespace

std::optional<int> LoadStatusLibrary(bool probe, StatusLibrary* library) {
  std::string path = ResolveStatusLibraryPath();
  Trace("starting");
  ModuleHandle module = LoadLibraryFromPath(path);
  if (module == nullptr) {
    Trace("dll-load-failed");
    WriteErrorLine(kLoadFailedMessage + path);
    return kExitLoadFailed;
  }
  Trace("dll-loaded");

  ExportAddress address = FindExport(module, kIsVerifiedReuseBlockExportName);
  if (address == nullptr) {
    Trace("export-missing");
    ReleaseLibrary(module);
    WriteErrorLine(kExportMissingMessage);
    return kExitExportMissing;
  }
  Trace("export-found");

  // Each release comes before the line that ends the run, so a caller that
  // sees the line may at once replace or remove the library file.
  if (probe) {
    ReleaseLibrary(module);
    WriteProbeLine();
    return kExitOk;
  }
  if (!PrivateCallAllowed()) {
    ReleaseLibrary(module);
    WriteErrorLine(kPrivateCallDisabledMessage);
    return kExitPrivateCallDisabled;
  }
  library->module = module;
  library->fn = ExportAs<IsVerifiedReuseBlockFn>(address);
  return std::nullopt;
}

}  // namespace status_bridge
