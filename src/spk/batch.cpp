#include "spk/batch.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <optional>

#include "spk/center_chain.hpp"
#include "spk/options.hpp"

namespace tarvex::spk {

using core::CartesianState;
using core::EphemerisError;

namespace {

std::unexpected<StopOrError> stopped() { return std::unexpected(StopOrError{Stopped{}}); }

std::unexpected<StopOrError> failed(EphemerisError error) {
  return std::unexpected(StopOrError{std::move(error)});
}

// Instants per chunk: large enough that a chain walk's fixed costs vanish,
// small enough that a chunk's states (bodies x instants x 48 bytes) stay in
// the cache and far below the size of a large result.
constexpr std::size_t CHUNK_INSTANTS = 1024;

double tdb_julian_day(double tdb_seconds) {
  return tdb_seconds / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
}

bool is_geometric(const core::Corrections& c) {
  return !c.light_time && !c.aberration && !c.gravitational_deflection;
}

// The request chunk by chunk: the observer, then each body's relative
// states over all instants of the chunk, then the positions instant by
// instant.
Interruptible<void> evaluate_chunks(KernelList& kernels, const PositionRequest& p,
                                    PositionWorkspace& w, PositionSink& sink,
                                    Interruption& interruption) {
  const std::size_t body_count = p.targets.size();
  const std::size_t instant_count = p.epochs.size();
  for (std::size_t begin = 0; begin < instant_count; begin += CHUNK_INSTANTS) {
    const std::size_t m = std::min(CHUNK_INSTANTS, instant_count - begin);
    const std::span<const double> epochs = std::span(p.epochs).subspan(begin, m);
    const std::span<const CartesianState> sites =
        p.topocentric ? std::span(p.sites).subspan(begin, m) : std::span<const CartesianState>();
    if (!(m == 1 && w.observers_epoch.matches(p.center, epochs[0], sites))) {
      w.observers_epoch.clear();
      w.scratch.start_span();
      if (auto done = observer_states(kernels, p.center, sites, epochs, w.observers); !done)
        return failed(spk_ephemeris_error(done.error()));
      if (m == 1) w.observers_epoch.set(p.center, epochs[0], sites);
    }
    if (interruption.poll(m)) return stopped();
    w.relatives.resize(m * body_count);
    for (std::size_t j = 0; j < body_count; ++j) {
      auto done =
          relative_states(kernels, p.targets[j], p.center, w.observers, p.resolved.corrections,
                          epochs, w.scratch, std::span(w.relatives).subspan(j * m, m));
      if (!done) return failed(spk_ephemeris_error(done.error()));
      if (interruption.poll(m)) return stopped();
    }
    for (std::size_t i = 0; i < m; ++i) {
      const OutputFrame& frame = w.frames.at(p.resolved, tdb_julian_day(epochs[i]));
      for (std::size_t j = 0; j < body_count; ++j) {
        auto position = position_from_state(w.relatives[j * m + i], frame);
        if (!position) return failed(position.error());
        sink.put(*position);
      }
      if (interruption.poll(body_count)) return stopped();
    }
  }
  return {};
}

// The one-at-a-time order, evaluated only to find the first error after a
// chunked run failed.
StopOrError first_error_in_order(KernelList& kernels, const PositionRequest& p,
                                 EphemerisError chunk_error, Interruption& interruption) {
  const std::size_t body_count = p.targets.size();
  const std::size_t instant_count = p.epochs.size();
  if (is_geometric(p.resolved.corrections)) {
    // Each evaluation covers every epoch, so the hook is asked between them.
    auto center_states = barycentric_states_across_kernels(kernels, p.center, p.epochs);
    if (!center_states) return spk_ephemeris_error(center_states.error());
    for (std::int32_t target : p.targets) {
      if (interruption.check()) return Stopped{};
      auto states = barycentric_states_across_kernels(kernels, target, p.epochs);
      if (!states) return spk_ephemeris_error(states.error());
    }
    // No kernel error anywhere: the chunked run met the first position
    // error, since both form positions in instant-major order.
    return chunk_error;
  }
  std::vector<CartesianState> observer;
  RelativeStateScratch scratch;
  CartesianState relative;
  for (std::size_t i = 0; i < instant_count; ++i) {
    const OutputFrame frame = output_frame(p.resolved, tdb_julian_day(p.epochs[i]));
    const std::span<const double> epoch = std::span(p.epochs).subspan(i, 1);
    const std::span<const CartesianState> site =
        p.topocentric ? std::span(p.sites).subspan(i, 1) : std::span<const CartesianState>();
    for (std::size_t j = 0; j < body_count; ++j) {
      // Each body exactly as its single position: observer, target, Sun.
      if (auto done = observer_states(kernels, p.center, site, epoch, observer); !done)
        return spk_ephemeris_error(done.error());
      scratch.start_span();
      auto done = relative_states(kernels, p.targets[j], p.center, observer, p.resolved.corrections,
                                  epoch, scratch, std::span(&relative, 1));
      if (!done) return spk_ephemeris_error(done.error());
      auto position = position_from_state(relative, frame);
      if (!position) return position.error();
    }
    if (interruption.poll(body_count)) return Stopped{};
  }
  return chunk_error;
}

bool same_bits(const CartesianState& a, const CartesianState& b) noexcept {
  return std::memcmp(&a, &b, sizeof(CartesianState)) == 0;
}

}  // namespace

bool SingleEpochKey::matches(std::int32_t center, double epoch,
                             std::span<const CartesianState> sites) const noexcept {
  if (!valid_ || center != center_ ||
      std::bit_cast<std::uint64_t>(epoch) != std::bit_cast<std::uint64_t>(epoch_))
    return false;
  if (sites.empty()) return !topocentric_;
  return topocentric_ && same_bits(sites[0], site_);
}

void SingleEpochKey::set(std::int32_t center, double epoch,
                         std::span<const CartesianState> sites) noexcept {
  valid_ = true;
  center_ = center;
  epoch_ = epoch;
  topocentric_ = !sites.empty();
  site_ = topocentric_ ? sites[0] : CartesianState{};
}

Interruptible<PositionRequest> prepare_positions(const EngineTime& time,
                                                 std::span<const core::Body> bodies,
                                                 std::span<const core::Instant> instants,
                                                 const core::PositionOptions& options,
                                                 Interruption& interruption) {
  std::vector<std::int32_t> targets;
  targets.reserve(bodies.size());
  for (core::Body body : bodies) targets.push_back(core::naif_code(body));
  return prepare_positions(time, std::span<const std::int32_t>(targets), instants, options,
                           interruption);
}

Interruptible<PositionRequest> prepare_positions(const EngineTime& time,
                                                 std::span<const std::int32_t> targets,
                                                 std::span<const core::Instant> instants,
                                                 const core::PositionOptions& options,
                                                 Interruption& interruption) {
  auto resolved = resolve_position_options(options);
  if (!resolved) return failed(resolved.error());

  const std::size_t body_count = targets.size();
  const std::size_t instant_count = instants.size();
  if (body_count != 0 && instant_count > std::numeric_limits<std::size_t>::max() / body_count) {
    return failed(EphemerisError::invalid_request("batch result length overflowed"));
  }

  PositionRequest p;
  p.resolved = *resolved;
  p.targets.assign(targets.begin(), targets.end());

  p.center = origin_center(p.resolved.origin);
  p.topocentric = p.resolved.origin.is_topocentric();
  if (!p.topocentric) {
    for (std::int32_t target : p.targets) {
      if (auto distinct = reject_identical_target_and_center(target, p.center); !distinct)
        return failed(distinct.error());
    }
  }

  p.epochs.reserve(instant_count);
  if (p.topocentric) p.sites.reserve(instant_count);
  for (const core::Instant& instant : instants) {
    auto t = time.tdb_seconds(instant.time_scale, instant.julian_day);
    if (!t) return failed(t.error());
    p.epochs.push_back(*t);
    if (p.topocentric) {
      auto site = time.observer_gcrs_state(p.resolved.origin.observer, instant.time_scale,
                                           instant.julian_day);
      if (!site) return failed(site.error());
      p.sites.push_back(*site);
    }
    if (interruption.poll(1)) return stopped();
  }
  return p;
}

std::expected<void, EphemerisError> prepare_position(const EngineTime& time, core::Body body,
                                                     const core::Instant& instant,
                                                     const core::PositionOptions& options,
                                                     PositionRequest& request) {
  auto resolved = resolve_position_options(options);
  if (!resolved) return std::unexpected(resolved.error());
  PositionRequest::ConvertedInstant& converted = request.converted;
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(instant.julian_day);
  if (!(converted.valid && converted.scale == instant.time_scale &&
        converted.julian_day_bits == bits && converted.time_revision == time.revision())) {
    auto t = time.tdb_seconds(instant.time_scale, instant.julian_day);
    if (!t) return std::unexpected(t.error());
    converted = {true, instant.time_scale, bits, time.revision(), *t};
  }

  request.resolved = *resolved;
  request.targets.assign(1, core::naif_code(body));
  request.center = origin_center(resolved->origin);
  request.topocentric = resolved->origin.is_topocentric();
  request.epochs.assign(1, converted.tdb_seconds);
  request.sites.clear();
  if (request.topocentric) {
    auto site =
        time.observer_gcrs_state(resolved->origin.observer, instant.time_scale, instant.julian_day);
    if (!site) return std::unexpected(site.error());
    request.sites.push_back(*site);
  } else if (auto distinct = reject_identical_target_and_center(request.targets[0], request.center);
             !distinct) {
    return std::unexpected(distinct.error());
  }
  return {};
}

Interruptible<void> evaluate_positions(KernelList& kernels, const PositionRequest& request,
                                       PositionWorkspace& workspace, PositionSink& sink,
                                       Interruption& interruption) {
  auto done = evaluate_chunks(kernels, request, workspace, sink, interruption);
  if (done) return {};
  if (std::holds_alternative<Stopped>(done.error())) return done;
  return std::unexpected(first_error_in_order(
      kernels, request, std::get<EphemerisError>(std::move(done.error())), interruption));
}

}  // namespace tarvex::spk
