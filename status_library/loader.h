#pragma once

#include <string>

#include "platform/platform.h"
#include "status_library/contract.h"

namespace status_bridge {

// The variables that name the status library or its installation.
inline constexpr char kStatusLibraryPathVariable[] = "LMCDLL70_PATH";
inline constexpr char kHomeVariable[] = "SDD_HOME";

// Returns the status library's path: LMCDLL70_PATH when it is non-empty, else
// SDD_HOME followed directly by the library's place below the installation,
// else the bare name "LMCDLL70.dll". Values are used exactly as given.
// `from` receives the variable that gave the path, or null for the bare name.
std::string ResolveStatusLibraryPath(const char** from);

// The variable that must be exactly "1" for the private status call.
inline constexpr char kPrivateCallVariable[] =
    "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE";

// How far loading the status library came.
enum class StatusLibraryLoad {
  kLoaded,         // Loaded, with its status export resolved.
  kLoadFailed,     // The library could not be loaded.
  kExportMissing,  // It loaded but has no status export.
};

// The status library as LoadStatusLibrary left it.
struct StatusLibrary {
  StatusLibraryLoad load = StatusLibraryLoad::kLoadFailed;
  std::string path;               // The path that was tried.
  LoadFailure failure;            // Why the load failed, when it did.
  ModuleHandle module = nullptr;  // Set unless the load failed.
  IsVerifiedReuseBlockFn fn = nullptr;
};

// Loads the status library at `path` (as ResolveStatusLibraryPath gives it)
// and resolves its export, tracing each step. A library that loaded stays
// loaded, export or not: the caller releases it.
StatusLibrary LoadStatusLibrary(std::string path);

// Whether the private status call may be made: kPrivateCallVariable is
// exactly "1".
bool PrivateCallEnabled();

}  // namespace status_bridge
