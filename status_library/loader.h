#pragma once

#include <string>

#include "platform/platform.h"
#include "status_library/contract.h"

namespace status_bridge {

// The environment variable that must be exactly "1" before the private
// status call may be made.
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
  const char* from = nullptr;     // The variable that gave it; null: bare name.
  LoadFailure failure;            // Why the load failed, when it did.
  ModuleHandle module = nullptr;  // Set unless the load failed.
  IsVerifiedReuseBlockFn fn = nullptr;
};

// Finds, loads and resolves the status library, tracing each step. A
// library that loaded stays loaded, with or without its export: the caller
// releases it when the run ends early.
StatusLibrary LoadStatusLibrary();

// Whether the private status call may be made: kPrivateCallVariable is
// exactly "1".
bool PrivateCallEnabled();

}  // namespace status_bridge
