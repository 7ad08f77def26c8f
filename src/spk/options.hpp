// Option resolution of a position request: `apparent` expands into every
// correction, and combinations that do not describe a frame are refused.
#pragma once

#include <expected>

#include "core/errors.hpp"
#include "core/types.hpp"

namespace tarvex::spk {

// The resolved copy has `apparent` false and explicit correction switches;
// failures are InvalidRequest.
std::expected<core::PositionOptions, core::EphemerisError> resolve_position_options(
    core::PositionOptions options);

}  // namespace tarvex::spk
