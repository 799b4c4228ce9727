#include "protocol/escape_json.h"

namespace status_bridge {

std::string EscapeJson(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  ForEachEscapedPiece(text, [&escaped](const char* data, size_t size) {
    escaped.append(data, size);
  });
  return escaped;
}

}  // namespace status_bridge
