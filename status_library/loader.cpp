#include "status_library/loader.h"

#include "status_library/path.h"
#include "streams/trace.h"

namespace status_bridge {

StatusLibrary LoadStatusLibrary() {
  StatusLibrary library;
  library.path = ResolveStatusLibraryPath(&library.from);
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
