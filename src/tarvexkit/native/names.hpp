// The names the toolkit's native module accepts: body and time-scale names
// as tarvex accepts them (Unicode white space trimmed, ASCII letters
// lower-cased, then an exact match), and the canonical names tarvex's
// PositionOptions reports for its origin, coordinate system and reference
// epoch. A failure is the message the caller raises as ValueError.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "core/types.hpp"

namespace tarvex::kit {

template <class T>
using Named = std::expected<T, std::string>;

// "sun", "moon", ... "pluto": the bodies' display names in lower case.
Named<core::Body> parse_body(std::string_view name);
Named<core::TimeScale> parse_time_scale(std::string_view name);
Named<core::OriginKind> parse_origin_kind(std::string_view name);
Named<core::CoordinateSystem> parse_coordinate_system(std::string_view name);
Named<core::ReferenceEpoch> parse_reference_epoch(std::string_view name);

}  // namespace tarvex::kit
