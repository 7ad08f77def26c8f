#include "spk/pipeline.hpp"

#include "core/multiversion.hpp"

#include <bit>
#include <cmath>
#include <string>

#include "spk/center_chain.hpp"

namespace tarvex::spk {

using core::CartesianState;
using core::EphemerisError;

std::int32_t origin_center(const core::Origin& origin) noexcept {
  switch (origin.kind) {
    case core::OriginKind::Barycentric: return SOLAR_SYSTEM_BARYCENTER;
    case core::OriginKind::Heliocentric: return SUN;
    case core::OriginKind::Geocentric:
    case core::OriginKind::Topocentric: return EARTH;
  }
  return EARTH;
}

std::expected<void, EphemerisError> reject_identical_target_and_center(std::int32_t target,
                                                                       std::int32_t center) {
  if (target != center) return {};
  return std::unexpected(EphemerisError::invalid_request(
      "spherical coordinates are undefined when target and origin are identical"));
}

TARVEX_FMA_CLONES
double distance_km(const Vec3& a, const Vec3& b) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  return std::sqrt(std::fma(dx, dx, std::fma(dy, dy, dz * dz)));
}

std::expected<void, SpkError> observer_states(KernelList& kernels, std::int32_t center,
                                              std::span<const CartesianState> sites,
                                              std::span<const double> epochs,
                                              std::vector<CartesianState>& out) {
  out.resize(epochs.size());
  if (auto done = barycentric_states_into(kernels, center, epochs, out); !done)
    return std::unexpected(std::move(done.error()));
  if (!sites.empty()) {
    for (std::size_t i = 0; i < out.size(); ++i) add_state(out[i], sites[i]);
  }
  return {};
}

std::expected<void, SpkError> relative_states(
    KernelList& kernels, std::int32_t target, std::int32_t center,
    std::span<const CartesianState> observers, const core::Corrections& corrections,
    std::span<const double> epochs, RelativeStateScratch& scratch, std::span<CartesianState> out) {
  const std::size_t m = epochs.size();
  // The target's states are formed in `out` and corrected there.
  const std::span<CartesianState> states = out.first(m);
  if (auto done = barycentric_states_into(kernels, target, epochs, states); !done)
    return std::unexpected(std::move(done.error()));
  if (corrections.light_time) {
    scratch.retarded.resize(m);
    for (int iteration = 0; iteration < LIGHT_TIME_ITERATIONS; ++iteration) {
      for (std::size_t i = 0; i < m; ++i) {
        const double d = distance_km(states[i].position, observers[i].position);
        scratch.retarded[i] = epochs[i] - d / SPEED_OF_LIGHT_KM_PER_S;
      }
      if (auto done = barycentric_states_into(kernels, target, scratch.retarded, states); !done)
        return std::unexpected(std::move(done.error()));
    }
  }
  const bool deflect = corrections.gravitational_deflection && target != SUN && center != SUN;
  if (deflect && !scratch.sun_evaluated) {
    scratch.sun.resize(m);
    if (auto done = barycentric_states_into(kernels, SUN, epochs, scratch.sun); !done)
      return std::unexpected(std::move(done.error()));
    scratch.sun_evaluated = true;
  }
  for (std::size_t i = 0; i < m; ++i) {
    const CartesianState& observer = observers[i];
    CartesianState relative;
    for (int k = 0; k < 3; ++k) {
      relative.position[k] = states[i].position[k] - observer.position[k];
      relative.velocity[k] = states[i].velocity[k] - observer.velocity[k];
    }
    if (deflect) {
      relative = apply_solar_gravitational_deflection(relative, observer.position,
                                                      scratch.sun[i].position);
    }
    if (corrections.aberration) relative = apply_stellar_aberration(relative, observer.velocity);
    states[i] = relative;
  }
  return {};
}

OutputFrame output_frame(const core::PositionOptions& resolved, double tdb_julian_day) {
  const bool ecliptic = resolved.coordinate_system == core::CoordinateSystem::Ecliptic;
  if (resolved.reference_epoch == core::ReferenceEpoch::OfDate) {
    return {OutputFrame::Kind::OfDate,
            core::OfDateRotation::create(resolved.corrections.nutation, !ecliptic, tdb_julian_day)};
  }
  return {ecliptic ? OutputFrame::Kind::J2000Ecliptic : OutputFrame::Kind::J2000Equatorial, {}};
}

const OutputFrame& OutputFrameCache::at(const core::PositionOptions& resolved,
                                        double tdb_julian_day) {
  // Bit 0 marks a filled cache; the others are the three choices the
  // rotation depends on.
  const std::uint8_t key = static_cast<std::uint8_t>(
      1u | (resolved.reference_epoch == core::ReferenceEpoch::OfDate ? 2u : 0u) |
      (resolved.coordinate_system == core::CoordinateSystem::Ecliptic ? 4u : 0u) |
      (resolved.corrections.nutation ? 8u : 0u));
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(tdb_julian_day);
  if (key != key_ || bits != epoch_bits_) {
    frame_ = output_frame(resolved, tdb_julian_day);
    key_ = key;
    epoch_bits_ = bits;
  }
  return frame_;
}

std::expected<core::Position, EphemerisError> position_from_state(const CartesianState& relative,
                                                                  const OutputFrame& frame) {
  auto coordinate_failure = [](core::CoordinateError error) {
    return std::unexpected(EphemerisError::computation(std::string(core::message(error))));
  };
  CartesianState framed = relative;
  if (frame.kind == OutputFrame::Kind::J2000Ecliptic) {
    auto rotated = core::to_j2000_ecliptic(relative);
    if (!rotated) return coordinate_failure(rotated.error());
    framed = *rotated;
  } else if (frame.kind == OutputFrame::Kind::OfDate) {
    auto rotated = frame.rotation.apply(relative);
    if (!rotated) return coordinate_failure(rotated.error());
    framed = *rotated;
  }
  auto spherical = core::to_spherical(framed);
  if (!spherical) return coordinate_failure(spherical.error());
  return core::Position{spherical->longitude_deg, spherical->latitude_deg,
                        spherical->distance_km / core::AU_KM,
                        spherical->longitude_rate_deg_per_day};
}

}  // namespace tarvex::spk
