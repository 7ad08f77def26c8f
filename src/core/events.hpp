// Kinds of horizon events (rise, set, meridian transit).
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvex::core {

enum class HorizonEventKind : std::uint8_t { Rise = 0, Set = 1, Transit = 2 };

// "Rise", "Set", "Transit".
std::string_view display_name(HorizonEventKind kind) noexcept;

}  // namespace tarvex::core
