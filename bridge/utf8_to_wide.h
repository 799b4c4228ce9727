#pragma once

#include <string>

namespace status_bridge {

// Returns the wide form of the UTF-8 bytes `text`, with U+FFFD for each
// malformed sequence; empty when `text` is empty or converts to nothing.
std::wstring Utf8ToWide(const std::string& text);

}  // namespace status_bridge
