// The position pipeline, one function per step, each over a span of epochs
// (a single position is a span of one):
//   observer_states   the origin's barycentric state, plus the site offset;
//   relative_states   target minus observer, with light time, solar
//                     deflection and aberration as the switches say;
//   output_frame      the rotation into the requested frame at one epoch;
//   position_from_state  that rotation and the spherical conversion.
// Every step forms each value by the same operations whatever the span's
// length, so a batch gives the bits of the single position.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

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

// Spherical coordinates need a target apart from the origin.
std::expected<void, core::EphemerisError> reject_identical_target_and_center(std::int32_t target,
                                                                             std::int32_t center);

// Separation of two positions in km, the light-time distance: the square
// root of dx*dx + dy*dy + dz*dz with fused multiply-adds.
double distance_km(const Vec3& a, const Vec3& b);

// The observer at each epoch: the barycentric state of `center`, plus the
// site offset of the same epoch when `sites` is not empty (one per epoch).
std::expected<void, SpkError> observer_states(KernelList& kernels, std::int32_t center,
                                              std::span<const core::CartesianState> sites,
                                              std::span<const double> epochs,
                                              std::vector<core::CartesianState>& out);

// Storage shared by the relative_states calls over one span of epochs: the
// Sun's barycentric states, evaluated when the first target needs them and
// kept for the others, and the retarded epochs of the light-time iterations.
struct RelativeStateScratch {
  std::vector<core::CartesianState> sun;
  bool sun_evaluated = false;
  std::vector<double> retarded;
  // Before the first call over a new span of epochs.
  void start_span() noexcept { sun_evaluated = false; }
};

// Target minus observer at each epoch, corrected as the switches say, into
// out[0 .. epochs.size()). The kernel evaluations come in this order: the
// target, its light-time iterations, then the Sun (once per span). Light
// time is a fixed number of retarded evaluations with no convergence test,
// so the result does not depend on a tolerance. The deflecting body is the
// Sun alone, and it deflects neither its own light nor light seen from it.
std::expected<void, SpkError> relative_states(KernelList& kernels, std::int32_t target,
                                              std::int32_t center,
                                              std::span<const core::CartesianState> observers,
                                              const core::Corrections& corrections,
                                              std::span<const double> epochs,
                                              RelativeStateScratch& scratch,
                                              std::span<core::CartesianState> out);

// The frame results are expressed in.
struct OutputFrame {
  enum class Kind : std::uint8_t { J2000Equatorial, J2000Ecliptic, OfDate };
  Kind kind = Kind::J2000Equatorial;
  core::OfDateRotation rotation{};
};

OutputFrame output_frame(const core::PositionOptions& resolved, double tdb_julian_day);

// The last frame built, for the next query at the same epoch with the same
// frame options (a chart asks for many bodies at one instant). The key is
// the exact bits of the epoch and the options that choose the rotation, so
// a hit returns the very frame output_frame would build.
class OutputFrameCache {
 public:
  const OutputFrame& at(const core::PositionOptions& resolved, double tdb_julian_day);

 private:
  OutputFrame frame_;
  std::uint64_t epoch_bits_ = 0;
  std::uint8_t key_ = 0;  // 0: empty
};

// A relative state in the J2000 equatorial frame to a position in the output
// frame; coordinate failures become Computation errors.
std::expected<core::Position, core::EphemerisError> position_from_state(
    const core::CartesianState& relative, const OutputFrame& frame);

}  // namespace tarvex::spk
