#include "bridge/utf8_to_wide.h"

#include <climits>

#include "platform/platform.h"

namespace status_bridge {

std::wstring Utf8ToWide(const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) {
    return std::wstring();
  }
  int byte_count = static_cast<int>(text.size());
  int length = ConvertUtf8ToWide(text.data(), byte_count, nullptr, 0);
  if (length <= 0) {
    return std::wstring();
  }
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ConvertUtf8ToWide(text.data(), byte_count, &wide[0], length);
  return wide;
}

}  // namespace status_bridge
