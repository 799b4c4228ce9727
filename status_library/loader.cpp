#include "status_library/loader.h"

#include "streams/trace.h"
#include "status_library/path.h"

namespace status_bridge {

StatusLibrary LoadStatusLibrary() {
  StatusLibrary library;
  library.path = ResolveStatusLibraryPath();
  Trace("starting");
  ModuleHandle module = LoadLibraryFromPath(library.path);
  if (module == nullptr) {
    Trace("dll-load-failed");
    library.load = StatusLibraryLoad::kLoadFailed;
    return library;
  }
  Trace("dll-loaded");

  ExportAddress address = FindExport(module, kIsVerifiedReuseBlockExportName);
  if (address == nullptr) {
    Trace("export-missing");
    ReleaseLibrary(module);
    library.load = StatusLibraryLoad::kExportMissing;
    return library;
  }
  Trace("export-found");
  library.load = StatusLibraryLoad::kLoaded;
  library.module = module;
  library.fn = ExportAs<IsVerifiedReuseBlockFn>(address);
  return library;
}

bool PrivateCallEnabled() {
  return ReadPathVariable(kPrivateCallVariable) == "1";
}

}  // namespace status_bridge
