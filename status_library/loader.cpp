#include "status_library/loader.h"

#include <utility>

#include "streams/standard_streams.h"

namespace status_bridge {

std::string ResolveStatusLibraryPath(const char** from) {
  *from = kStatusLibraryPathVariable;
  std::string path = ReadPathVariable(*from);
  if (!path.empty()) {
    return path;
  }
  *from = kHomeVariable;
  std::string home = ReadPathVariable(*from);
  if (!home.empty()) {
    return home + kStatusLibraryBelowHome;
  }
  *from = nullptr;
  return "LMCDLL70.dll";
}

StatusLibrary LoadStatusLibrary(std::string path) {
  StatusLibrary library;
  library.path = std::move(path);
  Trace("starting");
  library.module = LoadLibraryFromPath(library.path);
  if (library.module == nullptr) {
    library.failure = LastLoadFailure();
    Trace("dll-load-failed");
    return library;
  }
  Trace("dll-loaded");
  ExportAddress address =
      FindExport(library.module, kIsVerifiedReuseBlockExportName);
  if (address == nullptr) {
    Trace("export-missing");
    library.load = StatusLibraryLoad::kExportMissing;
    return library;
  }
  Trace("export-found");
  library.load = StatusLibraryLoad::kLoaded;
  library.fn = ExportAs<IsVerifiedReuseBlockFn>(address);
  return library;
}

bool PrivateCallEnabled() { return SwitchIsOn(kPrivateCallVariable); }

}  // namespace status_bridge
