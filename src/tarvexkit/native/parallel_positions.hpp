// A batch of positions split over worker threads, each with its own store
// over the same kernels (a store serves one query at a time). Workers pull
// slabs of instants from a shared counter and write each slab's positions
// straight into its rows of the result, so working memory per worker is
// bounded by the slab, not by the batch. Every slab is an ordinary
// SpkEphemeris::positions_into call, and a batch's values do not depend on
// how its instants are grouped, so the result equals the single-threaded
// batch bit for bit.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <optional>
#include <span>

#include "core/errors.hpp"
#include "core/types.hpp"
#include "spk/spk_ephemeris.hpp"

namespace tarvex::kit {

// Instants per slab: a few chunks of the batch engine (1024 instants), so a
// slab keeps the engine's chunked evaluation efficient while a cancelled
// batch stops after at most one slab per worker (tens of milliseconds).
inline constexpr std::size_t SLAB_INSTANTS = 2048;
// How often the calling thread looks up from waiting (see run_slabs).
inline constexpr int POLL_INTERVAL_MS = 20;

// Many bodies (NAIF ids) at many Julian days of one time scale.
struct PositionsRequest {
  std::span<const std::int32_t> targets;
  std::span<const double> julian_days;
  core::TimeScale scale = core::TimeScale::Tdb;
  core::PositionOptions options;
};

enum class SlabsOutcome {
  Done,       // every slab written
  Failed,     // some slab met an error; check_instants and positions_in_order tell which
  Cancelled,  // `keep_going` returned false
};

// Fills `out` (instants x bodies x 4 doubles) using one worker per store
// (at most one per slab; a single slab runs in the calling thread). The
// calling thread waits and calls `keep_going` every POLL_INTERVAL_MS; false
// stops the workers after their current slab.
// Returns once every worker has finished. A C++ exception of a worker is
// rethrown here.
SlabsOutcome run_slabs(std::span<spk::SpkEphemeris* const> stores, const PositionsRequest& request,
                       double* out, const std::function<bool()>& keep_going);

// The checks of every instant (time conversions, observer sites: what the
// engine does before it evaluates anything) on the same workers, without
// positions. `first_error` receives the error of the first failing instant
// in array order, which is the one the whole batch reports if any instant
// fails; Failed then, Done when every instant passes.
SlabsOutcome check_instants(std::span<spk::SpkEphemeris* const> stores,
                            const PositionsRequest& request,
                            const std::function<bool()>& keep_going,
                            std::optional<core::EphemerisError>& first_error);

// Workers the request can use: one per slab at most.
std::size_t useful_workers(std::size_t instant_count, std::size_t threads) noexcept;

// The whole request as one SpkEphemeris::positions_into call on one store,
// writing into `out`: its error is the first one in the engine's documented
// order, which slabs running side by side cannot tell when evaluations fail
// (the engine walks every center chain link by link over all instants).
// Holds a copy of the instants and the engine's per-instant state for the
// whole request, so it is for the rare failing evaluation only.
std::expected<void, core::EphemerisError> positions_in_order(const spk::SpkEphemeris& store,
                                                             const PositionsRequest& request,
                                                             double* out);

// The checks that do not depend on the instants (options, targets against
// the center), in the engine's order: the request with no instants.
std::expected<void, core::EphemerisError> check_request(const spk::SpkEphemeris& store,
                                                        const PositionsRequest& request);

}  // namespace tarvex::kit
