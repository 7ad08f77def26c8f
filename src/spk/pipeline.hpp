// The position pipeline: from a barycentric target and observer to a
// relative state with light time, solar deflection and aberration, then into
// the requested frame and onto longitude, latitude, distance and speed.
#pragma once

#include <expected>
#include <optional>

#include "core/errors.hpp"
#include "core/frames.hpp"
#include "core/types.hpp"
#include "spk/corrections.hpp"
#include "spk/kernel_list.hpp"
#include "spk/spk_error.hpp"

namespace tarvex::spk {

inline constexpr std::int32_t SOLAR_SYSTEM_BARYCENTER = 0;
inline constexpr std::int32_t SUN = 10;
inline constexpr std::int32_t EARTH = 399;
inline constexpr int LIGHT_TIME_ITERATIONS = 3;

// The NAIF id positions are measured from (the Earth for topocentric
// origins, whose site offset is added separately).
std::int32_t origin_center(const core::Origin& origin) noexcept;

// Target minus observer at TDB seconds t, corrected as the switches say.
// With an observer offset (a site relative to the center) the observer is
// the center plus the offset.
std::expected<core::CartesianState, SpkError> resolve_relative_state(
    KernelList& kernels, std::int32_t target, std::int32_t center,
    const std::optional<core::CartesianState>& observer_offset, const core::Corrections& corrections,
    double tdb_seconds);

// Separation of two positions in km, the light-time distance: the square
// root of dx*dx + dy*dy + dz*dz with fused multiply-adds. The batch repeats
// the light-time loop with it, so both give the same bits.
double distance_km(const Vec3& a, const Vec3& b);

// The frame results are expressed in.
struct OutputFrame {
  enum class Kind : std::uint8_t { J2000Equatorial, J2000Ecliptic, OfDate };
  Kind kind = Kind::J2000Equatorial;
  core::OfDateRotation rotation{};
};

OutputFrame output_frame(const core::PositionOptions& resolved, double tdb_julian_day);

// A relative state in the J2000 equatorial frame to a position in the output
// frame; coordinate failures become Computation errors.
std::expected<core::Position, core::EphemerisError> position_from_state(const core::CartesianState& relative,
                                                                        const OutputFrame& frame);

}  // namespace tarvex::spk
