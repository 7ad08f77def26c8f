#include "spk/pipeline.hpp"

#include <cmath>
#include <string>

#include "spk/corrections.hpp"
#include "spk/ephemeris.hpp"
#include "spk/options.hpp"
#include "spk/store.hpp"

namespace tarvex::spk {

using core::CartesianState;
using core::EphemerisError;

namespace {

CartesianState to_cartesian(const StateVector& state) { return {state.position, state.velocity}; }

CartesianState difference(const CartesianState& target, const CartesianState& observer) {
  CartesianState out;
  for (int i = 0; i < 3; ++i) {
    out.position[i] = target.position[i] - observer.position[i];
    out.velocity[i] = target.velocity[i] - observer.velocity[i];
  }
  return out;
}

}  // namespace

double distance_km(const Vec3& a, const Vec3& b) {
  const double dx = a[0] - b[0];
  const double dy = a[1] - b[1];
  const double dz = a[2] - b[2];
  return std::sqrt(std::fma(dx, dx, std::fma(dy, dy, dz * dz)));
}

std::int32_t origin_center(const core::Origin& origin) noexcept {
  switch (origin.kind) {
    case core::OriginKind::Barycentric: return SOLAR_SYSTEM_BARYCENTER;
    case core::OriginKind::Heliocentric: return SUN;
    case core::OriginKind::Geocentric:
    case core::OriginKind::Topocentric: return EARTH;
  }
  return EARTH;
}

std::expected<CartesianState, SpkError> resolve_relative_state(KernelList& kernels, std::int32_t target,
                                                               std::int32_t center,
                                                               const std::optional<CartesianState>& observer_offset,
                                                               const core::Corrections& corrections, double t) {
  if (target == center && !observer_offset) return CartesianState{};

  auto center_state = barycentric_state_across_kernels(kernels, center, t);
  if (!center_state) return std::unexpected(center_state.error());
  CartesianState observer = to_cartesian(*center_state);
  if (observer_offset) {
    for (int i = 0; i < 3; ++i) {
      observer.position[i] += observer_offset->position[i];
      observer.velocity[i] += observer_offset->velocity[i];
    }
  }

  auto target_state = barycentric_state_across_kernels(kernels, target, t);
  if (!target_state) return std::unexpected(target_state.error());
  if (corrections.light_time) {
    // A fixed number of retarded evaluations, no convergence test: the
    // result must not depend on a tolerance.
    for (int iteration = 0; iteration < LIGHT_TIME_ITERATIONS; ++iteration) {
      const double d = distance_km(target_state->position, observer.position);
      target_state = barycentric_state_across_kernels(kernels, target, t - d / SPEED_OF_LIGHT_KM_PER_S);
      if (!target_state) return std::unexpected(target_state.error());
    }
  }
  CartesianState relative = difference(to_cartesian(*target_state), observer);

  if (corrections.gravitational_deflection && target != SUN && center != SUN) {
    auto sun = barycentric_state_across_kernels(kernels, SUN, t);
    if (!sun) return std::unexpected(sun.error());
    relative = apply_solar_gravitational_deflection(relative, observer.position, sun->position);
  }
  if (corrections.aberration) relative = apply_stellar_aberration(relative, observer.velocity);
  return relative;
}

OutputFrame output_frame(const core::PositionOptions& resolved, double tdb_julian_day) {
  const bool ecliptic = resolved.coordinate_system == core::CoordinateSystem::Ecliptic;
  if (resolved.reference_epoch == core::ReferenceEpoch::OfDate) {
    return {OutputFrame::Kind::OfDate,
            core::OfDateRotation::create(resolved.corrections.nutation, !ecliptic, tdb_julian_day)};
  }
  return {ecliptic ? OutputFrame::Kind::J2000Ecliptic : OutputFrame::Kind::J2000Equatorial, {}};
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
  return core::Position{spherical->longitude_deg, spherical->latitude_deg, spherical->distance_km / core::AU_KM,
                        spherical->longitude_rate_deg_per_day};
}

std::expected<core::Position, EphemerisError> SpkEphemeris::position(core::Body body, const core::Instant& instant,
                                                                     const core::PositionOptions& options) const {
  auto resolved = resolve_position_options(options);
  if (!resolved) return std::unexpected(resolved.error());
  auto t = time_.tdb_seconds(instant.time_scale, instant.julian_day);
  if (!t) return std::unexpected(t.error());

  const std::int32_t target = core::naif_code(body);
  const std::int32_t center = origin_center(resolved->origin);
  std::optional<CartesianState> offset;
  if (resolved->origin.is_topocentric()) {
    auto site = time_.observer_gcrs_state(resolved->origin.observer, instant.time_scale, instant.julian_day);
    if (!site) return std::unexpected(site.error());
    offset = *site;
  } else if (auto distinct = reject_identical_target_and_center(target, center); !distinct) {
    return std::unexpected(distinct.error());
  }

  CartesianState relative;
  {
    KernelGuard kernels = borrow_kernels();
    auto state = resolve_relative_state(*kernels, target, center, offset, resolved->corrections, *t);
    if (!state) return std::unexpected(spk_ephemeris_error(state.error()));
    relative = *state;
  }
  const double tdb_julian_day = *t / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
  return position_from_state(relative, output_frame(*resolved, tdb_julian_day));
}

}  // namespace tarvex::spk
