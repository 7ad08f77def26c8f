// Many bodies at many instants in one call, with the shared work done once:
// every instant is converted once, the output frame (with its nutation
// series) is built once per instant, and on the geometric path each body is
// evaluated at all epochs in one chain walk, so each Chebyshev record is
// decoded once for the whole batch.
#include <limits>
#include <optional>

#include "spk/ephemeris.hpp"
#include "spk/options.hpp"
#include "spk/pipeline.hpp"
#include "spk/store.hpp"

namespace tarvex::spk {

using core::CartesianState;
using core::EphemerisError;

std::expected<std::vector<core::Position>, EphemerisError> SpkEphemeris::positions(
    std::span<const core::Body> bodies, std::span<const core::Instant> instants,
    const core::PositionOptions& options) const {
  auto resolved = resolve_position_options(options);
  if (!resolved) return std::unexpected(resolved.error());

  const std::size_t body_count = bodies.size();
  const std::size_t instant_count = instants.size();
  if (body_count != 0 && instant_count > std::numeric_limits<std::size_t>::max() / body_count) {
    return std::unexpected(EphemerisError::invalid_request("batch result length overflowed"));
  }

  std::vector<std::int32_t> targets;
  targets.reserve(body_count);
  for (core::Body body : bodies) targets.push_back(core::naif_code(body));

  const std::int32_t center = origin_center(resolved->origin);
  const bool topocentric = resolved->origin.is_topocentric();
  if (!topocentric) {
    for (std::int32_t target : targets) {
      if (auto distinct = reject_identical_target_and_center(target, center); !distinct)
        return std::unexpected(distinct.error());
    }
  }

  std::vector<double> epochs;
  epochs.reserve(instant_count);
  std::vector<CartesianState> sites;
  if (topocentric) sites.reserve(instant_count);
  for (const core::Instant& instant : instants) {
    auto t = time_.tdb_seconds(instant.time_scale, instant.julian_day);
    if (!t) return std::unexpected(t.error());
    epochs.push_back(*t);
    if (topocentric) {
      auto site = time_.observer_gcrs_state(resolved->origin.observer, instant.time_scale, instant.julian_day);
      if (!site) return std::unexpected(site.error());
      sites.push_back(*site);
    }
  }

  std::vector<core::Position> result;
  result.reserve(body_count * instant_count);
  KernelGuard kernels = borrow_kernels();
  const core::Corrections& corrections = resolved->corrections;
  const auto frame_at = [&](std::size_t i) {
    return output_frame(*resolved, epochs[i] / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY);
  };

  if (!corrections.light_time && !corrections.aberration && !corrections.gravitational_deflection) {
    auto center_states = barycentric_states_across_kernels(*kernels, center, epochs);
    if (!center_states) return std::unexpected(spk_ephemeris_error(center_states.error()));
    if (topocentric) {
      for (std::size_t i = 0; i < instant_count; ++i) add_state((*center_states)[i], {sites[i].position, sites[i].velocity});
    }
    std::vector<std::vector<StateVector>> target_states;
    target_states.reserve(body_count);
    for (std::int32_t target : targets) {
      auto states = barycentric_states_across_kernels(*kernels, target, epochs);
      if (!states) return std::unexpected(spk_ephemeris_error(states.error()));
      target_states.push_back(std::move(*states));
    }
    for (std::size_t i = 0; i < instant_count; ++i) {
      const OutputFrame frame = frame_at(i);
      const StateVector& observer = (*center_states)[i];
      for (std::size_t j = 0; j < body_count; ++j) {
        const StateVector& target = target_states[j][i];
        CartesianState relative;
        for (int k = 0; k < 3; ++k) {
          relative.position[k] = target.position[k] - observer.position[k];
          relative.velocity[k] = target.velocity[k] - observer.velocity[k];
        }
        auto position = position_from_state(relative, frame);
        if (!position) return std::unexpected(position.error());
        result.push_back(*position);
      }
    }
    return result;
  }

  std::optional<CartesianState> offset;
  for (std::size_t i = 0; i < instant_count; ++i) {
    const OutputFrame frame = frame_at(i);
    if (topocentric) offset = sites[i];
    for (std::size_t j = 0; j < body_count; ++j) {
      auto relative = resolve_relative_state(*kernels, targets[j], center, offset, corrections, epochs[i]);
      if (!relative) return std::unexpected(spk_ephemeris_error(relative.error()));
      auto position = position_from_state(*relative, frame);
      if (!position) return std::unexpected(position.error());
      result.push_back(*position);
    }
  }
  return result;
}

}  // namespace tarvex::spk
