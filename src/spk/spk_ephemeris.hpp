// SpkEphemeris: the position engine over a store of SPK kernels. It opens
// the primary kernel and attaches further ones, records their provenance,
// fixes the supported range, holds the time kernels (engine_time.hpp), and
// answers position queries through the one path of batch.hpp.
#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/backend.hpp"
#include "core/errors.hpp"
#include "core/types.hpp"
#include "spk/batch.hpp"
#include "spk/engine_time.hpp"
#include "spk/interruption.hpp"
#include "spk/kernel.hpp"
#include "spk/kernel_list.hpp"

namespace tarvex::spk {

inline constexpr std::string_view ENGINE_VERSION = "0.1.0";
inline constexpr std::string_view COORDINATE_FRAME = "ICRF/J2000";

// The primary kernel's common contiguous coverage, in TDB Julian days.
struct SupportedRange {
  double start_julian_day = 0.0;
  double end_julian_day = 0.0;
  core::TimeScale time_scale = core::TimeScale::Tdb;
  bool operator==(const SupportedRange&) const = default;
};

class SpkEphemeris final : public core::EphemerisBackend {
 public:
  // Opens the primary kernel; the checksum is checked for form after the
  // file itself, and stored in lower case.
  // With SegmentRules::AnyType (the toolkit's store) the kernel may hold
  // every registered segment type, and its targets' coverage may leave
  // gaps: the supported range is then the span from the earliest segment
  // start to the latest segment end, and a query inside a gap fails naming
  // the gap. Kernels attached later follow the store's rules.
  static std::expected<SpkEphemeris, core::EphemerisError> open(
      const std::string& path, std::string_view sha256,
      SegmentRules rules = SegmentRules::Type2J2000);
  // Consumes the store and the kernel; on failure both are dropped.
  static std::expected<SpkEphemeris, core::EphemerisError> with_additional_kernel(
      SpkEphemeris&& store, SpkKernel&& kernel, std::string name, std::string_view sha256);

  SpkEphemeris(SpkEphemeris&&) noexcept = default;
  SpkEphemeris& operator=(SpkEphemeris&&) noexcept = default;
  SpkEphemeris(const SpkEphemeris&) = delete;
  SpkEphemeris& operator=(const SpkEphemeris&) = delete;

  const core::EphemerisMetadata& metadata() const noexcept { return metadata_; }
  const SupportedRange& supported_range() const noexcept { return range_; }

  // Exclusive use of the kernel list for one query (see kernel_list.hpp:
  // nested use throws KernelListBusy). The store is logically unchanged by
  // a query, hence const; only positions and caches move.
  KernelGuard borrow_kernels() const { return kernels_->borrow(); }
  std::optional<KernelGuard> try_borrow_kernels() const { return kernels_->try_borrow(); }

  // Time handling: the optional leap-second kernel and Earth orientation
  // table, and the conversions of instants (engine_time.hpp).
  EngineTime& time() noexcept { return time_; }
  const EngineTime& time() const noexcept { return time_; }

  // One position: a request of one body at one instant.
  std::expected<core::Position, core::EphemerisError> position(
      core::Body body, const core::Instant& instant,
      const core::PositionOptions& options) const override;
  // Many bodies at many instants, instant-major.
  std::expected<std::vector<core::Position>, core::EphemerisError> positions(
      std::span<const core::Body> bodies, std::span<const core::Instant> instants,
      const core::PositionOptions& options) const override;
  // The same batch written straight into caller storage, so that a large
  // batch holds its result once: after every check that can fail before
  // evaluation, `allocate` is called once with the number of positions
  // (N x B) and returns room for four doubles per position (longitude,
  // latitude, distance, speed; instant-major) or nullptr, which ends the
  // call with false. Errors are those of `positions`; `interruption` is
  // consulted throughout, and a stop leaves the storage partly written.
  Interruptible<bool> positions_into(std::span<const core::Body> bodies,
                                     std::span<const core::Instant> instants,
                                     const core::PositionOptions& options,
                                     const std::function<double*(std::size_t)>& allocate,
                                     Interruption& interruption) const;
  // The same for targets given by NAIF id (the toolkit's bodies).
  Interruptible<bool> positions_into(std::span<const std::int32_t> targets,
                                     std::span<const core::Instant> instants,
                                     const core::PositionOptions& options,
                                     const std::function<double*(std::size_t)>& allocate,
                                     Interruption& interruption) const;

 private:
  // `coverage_s`: the coverage in TDB seconds that `range` was rounded from.
  SpkEphemeris(core::EphemerisMetadata metadata, SupportedRange range,
               std::pair<double, double> coverage_s, std::unique_ptr<KernelCell> kernels)
      : metadata_(std::move(metadata)),
        range_(range),
        kernels_(std::move(kernels)),
        workspace_(std::make_unique<PositionWorkspace>()),
        time_(range.start_julian_day, range.end_julian_day, coverage_s.first, coverage_s.second) {}

  core::EphemerisMetadata metadata_;
  SupportedRange range_;
  // Behind a pointer so that a guard stays valid when the store is moved.
  std::unique_ptr<KernelCell> kernels_;
  // Used only while the kernel list is borrowed, so one query at a time.
  std::unique_ptr<PositionWorkspace> workspace_;
  EngineTime time_;
};

}  // namespace tarvex::spk
