#include "vendor/status_library.h"

#include "streams/trace.h"
#include "vendor/library_path.h"

namespace status_bridge {

StatusLibrary LoadStatusLibrary() {
  StatusLibrary library;
  library.path = ResolveStatusLibraryPath();
  Trace("starting");
  ModuleHandle module = LoadLibraryFromPath(library.path);
  if (module == nullptr) {
    Trace("dll-load-failed");
    library.load = LibraryLoad::kLoadFailed;
    return library;
  }
  Trace("dll-loaded");

  ExportAddress address = FindExport(module, kIsVerifiedReuseBlockExportName);
  if (address == nullptr) {
    Trace("export-missing");
    ReleaseLibrary(module);
    library.load = LibraryLoad::kExportMissing;
    return library;
  }
  Trace("export-found");
  library.load = LibraryLoad::kLoaded;
  library.module = module;
  library.fn = ExportAs<IsVerifiedReuseBlockFn>(address);
  return library;
}

bool PrivateCallAllowed() {
  return ReadPathVariable(kAllowPrivateVariable) == "1";
}

}  // namespace status_bridge
