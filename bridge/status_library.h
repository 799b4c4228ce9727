#pragma once

#include <optional>

#include "bridge/vendor_contract.h"
#include "platform/platform.h"

namespace status_bridge {

// The environment variable that must be exactly "1" before the private
// status export may be called.
inline constexpr char kAllowPrivateVariable[] =
    "ORVEK_STATUS_BRIDGE_ALLOW_PRIVATE";

// The loaded vendor library and its resolved status export.
struct StatusLibrary {
  ModuleHandle module = nullptr;
  IsVerifiedReuseBlockFn fn = nullptr;
};

// Finds, loads and resolves the vendor library, answers the probe mode when
// `probe` is set, and applies the opt-in rule. Returns the exit code with
// which the run ends (2, 3, 4, or 0 after the probe line), having written its
// line; or returns nothing once `library` holds the loaded library, which
// then stays loaded.
std::optional<int> LoadStatusLibrary(bool probe, StatusLibrary* library);

}  // namespace status_bridge
