// The file name recorded for kernels and tables: the last component of a
// path, as the operating system's path rules give it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex::core {

// Last component after trailing separators and "." components are ignored.
// None for an empty path, the root, a path ending in "..", or a name that is
// not valid UTF-8.
std::optional<std::string> final_path_component(std::string_view path);

}  // namespace tarvex::core
