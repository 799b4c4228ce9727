#pragma once

#include <string>

#include "platform/platform.h"
#include "status_library/contract.h"

namespace status_bridge {

// The environment variable that must be exactly "1" before the private
// status export may be called.
inline constexpr char kPrivateCallVariable[] =
    "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE";

// How far loading the vendor library came.
enum class StatusLibraryLoad {
  kLoaded,         // Loaded, with its status export resolved.
  kLoadFailed,     // The library could not be loaded.
  kExportMissing,  // It loaded, has no status export and was released.
};

// The vendor library as LoadStatusLibrary left it.
struct StatusLibrary {
  StatusLibraryLoad load = StatusLibraryLoad::kLoadFailed;
  std::string path;               // The path that was tried.
  ModuleHandle module = nullptr;  // Set when loaded.
  IsVerifiedReuseBlockFn fn = nullptr;
};

// Finds, loads and resolves the vendor library, tracing each step. Only a
// library whose export was found stays loaded.
StatusLibrary LoadStatusLibrary();

// Whether the private status export may be called: kPrivateCallVariable is
// exactly "1".
bool PrivateCallEnabled();

}  // namespace status_bridge
