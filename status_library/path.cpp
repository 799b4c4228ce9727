#include "status_library/path.h"

#include "platform/platform.h"

namespace status_bridge {

std::string ResolveStatusLibraryPath() {
  std::string path = ReadPathVariable(kStatusLibraryPathVariable);
  if (!path.empty()) {
    return path;
  }
  std::string home = ReadPathVariable(kHomeVariable);
  if (!home.empty()) {
    return home + kStatusLibraryBelowHome;
  }
  return "LMCDLL70.dll";
}

}  // namespace status_bridge
