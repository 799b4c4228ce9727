// The null status library: the status export, under its decorated name, with
// no work behind it, so that a timed run measures the bridge alone.

#include <cstdint>

#include "standin/cstring_runtime/standin_cstring.h"

// "Verified" for block type 1 only; destroys the by-value copy, as the callee.
extern "C" __attribute__((visibility("default"))) std::uint8_t
NullIsVerifiedReuseBlock(StandInCString block_name, std::int32_t block_type,
                         const StandInCString* /*lmc_file*/) {
  StandInCStringDestroy(&block_name);
  return block_type == 1 ? 1 : 0;
}
