#pragma once

#include <string>

namespace status_bridge {

// Returns `text` with each LF, CR, double quote and backslash replaced by its
// two-byte JSON escape; every other byte, NUL and non-ASCII included, is kept.
std::string EscapeJson(const std::string& text);

// Appends the escaped form of `text` (as EscapeJson) to `out`.
void AppendEscapedJson(const std::string& text, std::string* out);

}  // namespace status_bridge
