#include "status_library/path.h"

#include "platform/platform.h"

namespace status_bridge {

std::string ResolveStatusLibraryPath(const char** from) {
  const char* ignored = nullptr;
  const char** source = from != nullptr ? from : &ignored;
  std::string path = ReadPathVariable(kStatusLibraryPathVariable);
  if (!path.empty()) {
    *source = kStatusLibraryPathVariable;
    return path;
  }
  std::string home = ReadPathVariable(kHomeVariable);
  if (!home.empty()) {
    *source = kHomeVariable;
    return home + kStatusLibraryBelowHome;
  }
  *source = nullptr;
  return "LMCDLL70.dll";
}

}  // namespace status_bridge
