#pragma once

// The request lines the benchmark feeds the bridge, with the answers the
// bridge must give them against the null vendor library.

#include <cstddef>
#include <string>

namespace bench {

// A run of request lines and the answers to them, each line ended by LF.
struct RequestSet {
  std::string input;
  std::string expected_output;
  size_t count = 0;
};

// `count` typical requests (about 150 bytes each) with realistic, varied
// identifiers, LMC paths, block names and block types. The same `count`
// always gives the same lines.
RequestSet TypicalRequests(size_t count);

// `repeat` copies of one request whose block name is `block_name_bytes` bytes
// of plain identifier characters.
RequestSet LongBlockNameRequests(size_t block_name_bytes, size_t repeat);

}  // namespace bench
