#pragma once

#include <istream>
#include <string>

namespace status_bridge {

// Reads the next line from `in` into `line`: the bytes up to the next LF,
// without it; NUL and CR bytes stay, except one CR directly before the LF on
// platforms whose streams do not drop it themselves. Returns false when the
// input ends, or fails, before the first byte. Bytes that end at the end of
// input without an LF still form a line.
bool ReadLine(std::istream& in, std::string* line);

// Reads the next request line from standard input, as ReadLine. A read error
// counts as the end of the input; exhausted memory ends the process.
bool ReadRequestLine(std::string* line);

}  // namespace status_bridge
