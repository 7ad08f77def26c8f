// Positions of bodies at instants, the one path of every position query:
// a request is prepared (options resolved, each instant converted once),
// then evaluated chunk by chunk through the pipeline (pipeline.hpp), so
// that each Chebyshev record is decoded once per chain walk and the output
// frame, with its nutation series, is built once per instant. A single
// position is a request of one body at one instant.
//
// Errors: a request reports the first error in the order of the
// one-at-a-time evaluation (all kernel evaluations before any position on
// the geometric path; instant by instant, body by body, each as a single
// position, on the corrected path). The chunked order differs, so when a
// chunk meets any error the request is evaluated again in that order, which
// meets the same failing evaluation and reports the error it meets first.
// Errors are rare; the second run costs only then.
//
// Every run consults the caller's Interruption between evaluations, about
// every INTERRUPTION_POLL_WORK positions, and ends with Stopped when asked.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "spk/engine_time.hpp"
#include "spk/interruption.hpp"
#include "spk/kernel_list.hpp"
#include "spk/pipeline.hpp"

namespace tarvex::spk {

// A request after every check that can fail before evaluation.
struct PositionRequest {
  core::PositionOptions resolved;
  std::vector<std::int32_t> targets;  // NAIF ids, in the caller's order
  std::int32_t center = 0;
  bool topocentric = false;
  std::vector<double> epochs;               // TDB seconds past J2000, one per instant
  std::vector<core::CartesianState> sites;  // topocentric only: the site's GCRS state per instant

  // For the single request that prepare_position refills: the instant it
  // last converted and the result, under the time kernels' revision then.
  // A chart asks for ten bodies at one instant; the conversion runs once.
  struct ConvertedInstant {
    bool valid = false;
    core::TimeScale scale = core::TimeScale::Tdb;
    std::uint64_t julian_day_bits = 0;
    std::uint64_t time_revision = 0;
    double tdb_seconds = 0.0;
  };
  ConvertedInstant converted;
};

// The checks of a batch, in this order: options, result length, targets
// against the center, then each instant's conversion (and site state).
Interruptible<PositionRequest> prepare_positions(const EngineTime& time,
                                                 std::span<const core::Body> bodies,
                                                 std::span<const core::Instant> instants,
                                                 const core::PositionOptions& options,
                                                 Interruption& interruption);
// The same for targets given by NAIF id (the toolkit's bodies).
Interruptible<PositionRequest> prepare_positions(const EngineTime& time,
                                                 std::span<const std::int32_t> targets,
                                                 std::span<const core::Instant> instants,
                                                 const core::PositionOptions& options,
                                                 Interruption& interruption);

// The checks of a single position, in this order: options, the instant's
// conversion, then the site state (topocentric) or the target against the
// center. The request is written into `request`, whose storage is reused.
std::expected<void, core::EphemerisError> prepare_position(const EngineTime& time, core::Body body,
                                                           const core::Instant& instant,
                                                           const core::PositionOptions& options,
                                                           PositionRequest& request);

// The epoch of a one-epoch evaluation whose observer (and Sun, once
// evaluated) a workspace still holds: the exact bits of the center, the
// epoch and the site offset. A chart asks for many bodies at one instant,
// one call each; the observer and the Sun are the same for all of them.
class SingleEpochKey {
 public:
  bool matches(std::int32_t center, double epoch,
               std::span<const core::CartesianState> sites) const noexcept;
  void set(std::int32_t center, double epoch, std::span<const core::CartesianState> sites) noexcept;
  void clear() noexcept { valid_ = false; }

 private:
  bool valid_ = false;
  bool topocentric_ = false;
  std::int32_t center_ = 0;
  double epoch_ = 0.0;
  core::CartesianState site_{};
};

// Storage a store keeps between queries and uses only while it holds its
// kernel list: the evaluation buffers, the last output frame, the observer
// of the last single epoch, and the request of a single position.
struct PositionWorkspace {
  OutputFrameCache frames;
  std::vector<core::CartesianState> observers;
  std::vector<core::CartesianState> relatives;  // body-major within a chunk
  RelativeStateScratch scratch;
  SingleEpochKey observers_epoch;
  PositionRequest single;
};

// Receives the positions in instant-major order.
class PositionSink {
 public:
  virtual ~PositionSink() = default;
  virtual void put(const core::Position& position) = 0;
};

// Evaluates a prepared request into `sink`.
Interruptible<void> evaluate_positions(KernelList& kernels, const PositionRequest& request,
                                       PositionWorkspace& workspace, PositionSink& sink,
                                       Interruption& interruption);

}  // namespace tarvex::spk
