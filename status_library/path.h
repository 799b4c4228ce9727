#pragma once

#include <string>

namespace status_bridge {

// The environment variables that name the status library or its
// installation.
inline constexpr char kStatusLibraryPathVariable[] = "LMCDLL70_PATH";
inline constexpr char kHomeVariable[] = "SDD_HOME";

// Returns the status library's path: LMCDLL70_PATH when it is non-empty, else
// SDD_HOME followed directly by the library's place below the installation,
// else the bare name "LMCDLL70.dll". Values are used exactly as given.
// `from` receives the variable that gave the path, or null for the bare name.
std::string ResolveStatusLibraryPath(const char** from = nullptr);

}  // namespace status_bridge
