#pragma once

#include "bridge/vendor_contract.h"

namespace status_bridge {

// Answers request lines from standard input with `fn`, one flushed answer line
// per input line and in input order, until the input ends. Returns 0.
int RunServerLoop(IsVerifiedReuseBlockFn fn);

}  // namespace status_bridge
