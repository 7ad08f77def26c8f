// Many bodies at many instants in one call, with the shared work done once:
// every instant is converted once, the output frame (with its nutation
// series) is built once per instant, and each body is evaluated at many
// epochs per chain walk, so each Chebyshev record is decoded once per walk.
//
// The instants are worked through in chunks. A chunk's intermediate states
// (one per body and instant) stay small and cache-resident, instead of
// states for the whole batch that would outweigh the result itself; on the
// corrected path the chunk lets the center, the Sun and every light-time
// iteration be evaluated for all instants of the chunk at once. Every value
// is formed by the same operations as in the single `position`, so results
// are unchanged bit for bit.
//
// Errors: the batch reports the first error in the documented order (all
// kernel evaluations before any position on the geometric path; instant by
// instant, body by body on the corrected path). The chunked order differs,
// so when a chunk meets any error the batch is run again in the documented
// order, which meets the same failing evaluation and reports the error it
// meets first. Errors are rare; the second run costs only then.
//
// Every run consults the caller's Interruption between evaluations, about
// every INTERRUPTION_POLL_WORK positions, and ends with Stopped when asked.
#include <algorithm>
#include <limits>
#include <optional>

#include "spk/ephemeris.hpp"
#include "spk/interruption.hpp"
#include "spk/options.hpp"
#include "spk/pipeline.hpp"
#include "spk/store.hpp"

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

// What every path needs after the checks of the documented steps 1 to 5.
struct Prepared {
  core::PositionOptions resolved;
  std::vector<std::int32_t> targets;
  std::int32_t center = 0;
  bool topocentric = false;
  std::vector<double> epochs;
  std::vector<CartesianState> sites;
};

CartesianState to_cartesian(const StateVector& state) { return {state.position, state.velocity}; }

OutputFrame frame_at(const Prepared& p, double tdb_seconds) {
  return output_frame(p.resolved, tdb_seconds / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY);
}

bool is_geometric(const core::Corrections& c) {
  return !c.light_time && !c.aberration && !c.gravitational_deflection;
}

// Receives the positions in instant-major order.
class PositionSink {
 public:
  virtual ~PositionSink() = default;
  virtual void put(const core::Position& position) = 0;
};

class VectorSink final : public PositionSink {
 public:
  explicit VectorSink(std::vector<core::Position>& out) : out_(out) {}
  void put(const core::Position& position) override { out_.push_back(position); }

 private:
  std::vector<core::Position>& out_;
};

class FlatSink final : public PositionSink {
 public:
  explicit FlatSink(double* out) : out_(out) {}
  void put(const core::Position& position) override {
    *out_++ = position.longitude_deg;
    *out_++ = position.latitude_deg;
    *out_++ = position.distance_au;
    *out_++ = position.longitude_speed_deg_per_day;
  }

 private:
  double* out_;
};

// The geometric path, chunk by chunk.
Interruptible<void> geometric_chunks(KernelList& kernels, const Prepared& p, PositionSink& sink,
                                     Interruption& interruption) {
  const std::size_t body_count = p.targets.size();
  const std::size_t instant_count = p.epochs.size();
  std::vector<std::vector<StateVector>> target_states(body_count);
  for (std::size_t begin = 0; begin < instant_count; begin += CHUNK_INSTANTS) {
    const std::size_t m = std::min(CHUNK_INSTANTS, instant_count - begin);
    const std::span<const double> epochs = std::span(p.epochs).subspan(begin, m);
    auto center_states = barycentric_states_across_kernels(kernels, p.center, epochs);
    if (!center_states) return failed(spk_ephemeris_error(center_states.error()));
    if (interruption.poll(m)) return stopped();
    if (p.topocentric) {
      for (std::size_t i = 0; i < m; ++i) {
        add_state((*center_states)[i], {p.sites[begin + i].position, p.sites[begin + i].velocity});
      }
    }
    for (std::size_t j = 0; j < body_count; ++j) {
      auto states = barycentric_states_across_kernels(kernels, p.targets[j], epochs);
      if (!states) return failed(spk_ephemeris_error(states.error()));
      target_states[j] = std::move(*states);
      if (interruption.poll(m)) return stopped();
    }
    for (std::size_t i = 0; i < m; ++i) {
      const OutputFrame frame = frame_at(p, epochs[i]);
      const StateVector& observer = (*center_states)[i];
      for (std::size_t j = 0; j < body_count; ++j) {
        const StateVector& target = target_states[j][i];
        CartesianState relative;
        for (int k = 0; k < 3; ++k) {
          relative.position[k] = target.position[k] - observer.position[k];
          relative.velocity[k] = target.velocity[k] - observer.velocity[k];
        }
        auto position = position_from_state(relative, frame);
        if (!position) return failed(position.error());
        sink.put(*position);
      }
      if (interruption.poll(body_count)) return stopped();
    }
  }
  return {};
}

// The corrected path, chunk by chunk: the correction sequence of
// resolve_relative_state with each of its evaluations done for all instants
// of the chunk at once.
Interruptible<void> corrected_chunks(KernelList& kernels, const Prepared& p, PositionSink& sink,
                                     Interruption& interruption) {
  const core::Corrections& corrections = p.resolved.corrections;
  const std::size_t body_count = p.targets.size();
  const std::size_t instant_count = p.epochs.size();
  const bool deflect_any =
      corrections.gravitational_deflection && p.center != SUN &&
      std::any_of(p.targets.begin(), p.targets.end(), [](std::int32_t target) { return target != SUN; });
  std::vector<CartesianState> observers;
  std::vector<CartesianState> relatives;  // instant-major within the chunk
  std::vector<double> retarded;
  for (std::size_t begin = 0; begin < instant_count; begin += CHUNK_INSTANTS) {
    const std::size_t m = std::min(CHUNK_INSTANTS, instant_count - begin);
    const std::span<const double> epochs = std::span(p.epochs).subspan(begin, m);
    auto center_states = barycentric_states_across_kernels(kernels, p.center, epochs);
    if (!center_states) return failed(spk_ephemeris_error(center_states.error()));
    if (interruption.poll(m)) return stopped();
    observers.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
      observers[i] = to_cartesian((*center_states)[i]);
      if (p.topocentric) {
        const CartesianState& offset = p.sites[begin + i];
        for (int k = 0; k < 3; ++k) {
          observers[i].position[k] += offset.position[k];
          observers[i].velocity[k] += offset.velocity[k];
        }
      }
    }
    std::vector<StateVector> sun_states;
    if (deflect_any) {
      auto sun = barycentric_states_across_kernels(kernels, SUN, epochs);
      if (!sun) return failed(spk_ephemeris_error(sun.error()));
      sun_states = std::move(*sun);
      if (interruption.poll(m)) return stopped();
    }
    relatives.resize(m * body_count);
    for (std::size_t j = 0; j < body_count; ++j) {
      const std::int32_t target = p.targets[j];
      auto states = barycentric_states_across_kernels(kernels, target, epochs);
      if (!states) return failed(spk_ephemeris_error(states.error()));
      if (corrections.light_time) {
        retarded.resize(m);
        for (int iteration = 0; iteration < LIGHT_TIME_ITERATIONS; ++iteration) {
          for (std::size_t i = 0; i < m; ++i) {
            const double d = distance_km((*states)[i].position, observers[i].position);
            retarded[i] = epochs[i] - d / SPEED_OF_LIGHT_KM_PER_S;
          }
          states = barycentric_states_across_kernels(kernels, target, retarded);
          if (!states) return failed(spk_ephemeris_error(states.error()));
        }
      }
      const bool deflect = corrections.gravitational_deflection && target != SUN && p.center != SUN;
      for (std::size_t i = 0; i < m; ++i) {
        const CartesianState& observer = observers[i];
        const StateVector& state = (*states)[i];
        CartesianState relative;
        for (int k = 0; k < 3; ++k) {
          relative.position[k] = state.position[k] - observer.position[k];
          relative.velocity[k] = state.velocity[k] - observer.velocity[k];
        }
        if (deflect) {
          relative = apply_solar_gravitational_deflection(relative, observer.position, sun_states[i].position);
        }
        if (corrections.aberration) relative = apply_stellar_aberration(relative, observer.velocity);
        relatives[i * body_count + j] = relative;
      }
      if (interruption.poll(m)) return stopped();
    }
    for (std::size_t i = 0; i < m; ++i) {
      const OutputFrame frame = frame_at(p, epochs[i]);
      for (std::size_t j = 0; j < body_count; ++j) {
        auto position = position_from_state(relatives[i * body_count + j], frame);
        if (!position) return failed(position.error());
        sink.put(*position);
      }
      if (interruption.poll(body_count)) return stopped();
    }
  }
  return {};
}

// The documented order, evaluated only to find the first error after a
// chunked run failed.
StopOrError documented_first_error(KernelList& kernels, const Prepared& p,
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
  std::optional<CartesianState> offset;
  for (std::size_t i = 0; i < instant_count; ++i) {
    const OutputFrame frame = frame_at(p, p.epochs[i]);
    if (p.topocentric) offset = p.sites[i];
    for (std::size_t j = 0; j < body_count; ++j) {
      auto relative =
          resolve_relative_state(kernels, p.targets[j], p.center, offset, p.resolved.corrections, p.epochs[i]);
      if (!relative) return spk_ephemeris_error(relative.error());
      auto position = position_from_state(*relative, frame);
      if (!position) return position.error();
    }
    if (interruption.poll(body_count)) return Stopped{};
  }
  return chunk_error;
}

// Steps 1 to 5: options, length, targets and center, instants.
Interruptible<Prepared> prepare_batch(const EngineTime& time, std::span<const core::Body> bodies,
                                      std::span<const core::Instant> instants,
                                      const core::PositionOptions& options,
                                      Interruption& interruption) {
  auto resolved = resolve_position_options(options);
  if (!resolved) return failed(resolved.error());

  const std::size_t body_count = bodies.size();
  const std::size_t instant_count = instants.size();
  if (body_count != 0 && instant_count > std::numeric_limits<std::size_t>::max() / body_count) {
    return failed(EphemerisError::invalid_request("batch result length overflowed"));
  }

  Prepared p;
  p.resolved = *resolved;
  p.targets.reserve(body_count);
  for (core::Body body : bodies) p.targets.push_back(core::naif_code(body));

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
      auto site = time.observer_gcrs_state(p.resolved.origin.observer, instant.time_scale, instant.julian_day);
      if (!site) return failed(site.error());
      p.sites.push_back(*site);
    }
    if (interruption.poll(1)) return stopped();
  }
  return p;
}

Interruptible<void> run_batch(KernelList& kernels, const Prepared& p, PositionSink& sink,
                              Interruption& interruption) {
  auto done = is_geometric(p.resolved.corrections)
                  ? geometric_chunks(kernels, p, sink, interruption)
                  : corrected_chunks(kernels, p, sink, interruption);
  if (done) return {};
  if (std::holds_alternative<Stopped>(done.error())) return done;
  return std::unexpected(documented_first_error(
      kernels, p, std::get<EphemerisError>(std::move(done.error())), interruption));
}

}  // namespace

std::expected<std::vector<core::Position>, EphemerisError> SpkEphemeris::positions(
    std::span<const core::Body> bodies, std::span<const core::Instant> instants,
    const core::PositionOptions& options) const {
  Interruption never;
  auto prepared = prepare_batch(time_, bodies, instants, options, never);
  if (!prepared) return std::unexpected(error_of(std::move(prepared.error())));
  std::vector<core::Position> result;
  result.reserve(bodies.size() * instants.size());
  KernelGuard kernels = borrow_kernels();
  VectorSink sink(result);
  if (auto done = run_batch(*kernels, *prepared, sink, never); !done)
    return std::unexpected(error_of(std::move(done.error())));
  return result;
}

Interruptible<bool> SpkEphemeris::positions_into(
    std::span<const core::Body> bodies, std::span<const core::Instant> instants,
    const core::PositionOptions& options, const std::function<double*(std::size_t)>& allocate,
    Interruption& interruption) const {
  auto prepared = prepare_batch(time_, bodies, instants, options, interruption);
  if (!prepared) return std::unexpected(std::move(prepared.error()));
  // N x B fits (checked above); the four columns are the allocator's to check.
  double* out = allocate(bodies.size() * instants.size());
  if (out == nullptr) return false;
  KernelGuard kernels = borrow_kernels();
  FlatSink sink(out);
  if (auto done = run_batch(*kernels, *prepared, sink, interruption); !done)
    return std::unexpected(std::move(done.error()));
  return true;
}

}  // namespace tarvex::spk
