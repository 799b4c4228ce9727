// The null status library of the benchmark: the status export's shape with no
// work behind it. It reads no file, keeps no state and returns at once, so a
// timed run of the bridge against it measures the bridge and its I/O only.
// The build exports NullIsVerifiedReuseBlock under the decorated name of the
// vendor's status export.

#include <cstdint>

#include "standin/cstring_runtime/standin_cstring.h"

// Answers "verified" for block type 1 and "not verified" for every other, so
// a run of mixed requests gets both answers. Destroys the by-value copy of
// the block name, which the callee owns.
extern "C" __attribute__((visibility("default"))) std::uint8_t
NullIsVerifiedReuseBlock(StandInCString block_name, std::int32_t block_type,
                         const StandInCString* /*lmc_file*/) {
  StandInCStringDestroy(&block_name);
  return block_type == 1 ? 1 : 0;
}
