// The built-in inertial reference frames of SPK files (frame codes 1-21 of
// a segment summary) and their rotations to J2000.
//
// Frame definitions: NAIF, Frames Required Reading, appendix "Built in
// Inertial Reference Frames" (../shared/reference/naif-inertial-frames.rst):
// B1950 = J2000 precessed to B1950 by the IAU 1976 angles z, theta, zeta
// (Lieske 1979); FK4 and the DE-96 .. DE-130 frames = B1950 turned about
// its pole by their equinox offsets (Standish, JPL IOM 314.6-929, 1988);
// GALACTIC System II from FK4; the ecliptics of J2000 (obliquity
// 84381.448") and B1950 (84404.836"); DE-140, DE-142, DE-143 by their
// published matrices from the DE-400 series, taken as J2000. MARSIAU needs
// the orientation of Mars, which no file here defines, so it is refused.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/types.hpp"

namespace tarvex::spk {

inline constexpr std::int32_t J2000_FRAME = 1;

using Rotation = std::array<std::array<double, 3>, 3>;

// The name of a built-in inertial frame, or of a body-fixed frame this
// system knows by name only (ITRF93); "" for an unknown code.
std::string_view inertial_frame_name(std::int32_t frame) noexcept;

// M with v(J2000) = M v(frame), or nothing for a frame that cannot be
// rotated (unknown codes, body-fixed frames, MARSIAU).
std::optional<Rotation> rotation_to_j2000(std::int32_t frame) noexcept;

// The state rotated by `m` (position and velocity alike: the frames are inertial).
core::CartesianState rotate_state(const Rotation& m, const core::CartesianState& state) noexcept;

}  // namespace tarvex::spk
