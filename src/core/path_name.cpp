#include "core/path_name.hpp"

#include "core/text.hpp"

namespace tarvex::core {

std::optional<std::string> final_path_component(std::string_view path) {
  // Walk components from the end, skipping empty ones (repeated or trailing
  // separators) and "." components.
  std::size_t end = path.size();
  while (end > 0) {
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return std::nullopt;
    std::size_t begin = end;
    while (begin > 0 && path[begin - 1] != '/') --begin;
    const std::string_view component = path.substr(begin, end - begin);
    if (component == ".") {
      end = begin;
      continue;
    }
    if (component == "..") return std::nullopt;
    if (!is_valid_utf8(component)) return std::nullopt;
    return std::string(component);
  }
  return std::nullopt;
}

}  // namespace tarvex::core
