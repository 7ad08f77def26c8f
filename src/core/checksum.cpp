#include "core/checksum.hpp"

namespace tarvex::core {

std::optional<std::string> normalized_sha256(std::string_view text) {
  if (text.size() != SHA256_HEX_LENGTH) return std::nullopt;
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'A' && ch <= 'F') {
      ch = static_cast<char>(ch - 'A' + 'a');
    } else if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) {
      return std::nullopt;
    }
  }
  return out;
}

}  // namespace tarvex::core
