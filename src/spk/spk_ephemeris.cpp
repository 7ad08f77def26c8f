#include "spk/spk_ephemeris.hpp"

#include "core/checksum.hpp"
#include "core/path_name.hpp"
#include "spk/coverage.hpp"

namespace tarvex::spk {

namespace {

constexpr const char* BAD_CHECKSUM =
    "kernel SHA-256 must contain exactly 64 hexadecimal characters";

// The one position of a single query.
class OneSink final : public PositionSink {
 public:
  void put(const core::Position& value) override { position = value; }
  core::Position position;
};

class VectorSink final : public PositionSink {
 public:
  explicit VectorSink(std::vector<core::Position>& out) : out_(out) {}
  void put(const core::Position& position) override { out_.push_back(position); }

 private:
  std::vector<core::Position>& out_;
};

// Four doubles per position: longitude, latitude, distance, speed.
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

}  // namespace

std::expected<SpkEphemeris, core::EphemerisError> SpkEphemeris::open(const std::string& path,
                                                                     std::string_view sha256,
                                                                     SegmentRules rules) {
  auto name = core::final_path_component(path);
  if (!name)
    return std::unexpected(core::EphemerisError::computation("kernel path has no UTF-8 filename"));
  auto kernel = SpkKernel::open(path);
  if (!kernel) return std::unexpected(spk_ephemeris_error(kernel.error()));
  // The file is judged before the checksum text, so a bad file is what the
  // user hears about first.
  auto checksum = core::normalized_sha256(sha256);
  if (!checksum) return std::unexpected(core::EphemerisError::computation(BAD_CHECKSUM));
  auto segments = kernel->listed_segments();
  if (!segments) return std::unexpected(spk_ephemeris_error(segments.error()));
  auto coverage = rules == SegmentRules::AnyType ? overall_coverage(*segments)
                                                 : common_contiguous_coverage(*segments);
  if (!coverage) return std::unexpected(std::move(coverage.error()));

  SupportedRange range;
  range.start_julian_day = coverage->first / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
  range.end_julian_day = coverage->second / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
  range.time_scale = core::TimeScale::Tdb;

  core::EphemerisMetadata metadata;
  metadata.engine_version = std::string(ENGINE_VERSION);
  metadata.kernel_name = std::move(*name);
  metadata.kernel_sha256 = std::move(*checksum);
  metadata.coordinate_frame = std::string(COORDINATE_FRAME);

  KernelList kernels;
  kernel->set_segment_rules(rules);
  kernel->set_name(metadata.kernel_name);
  kernels.push_back(std::move(*kernel));
  return SpkEphemeris(std::move(metadata), range, *coverage,
                      std::make_unique<KernelCell>(std::move(kernels)));
}

std::expected<SpkEphemeris, core::EphemerisError> SpkEphemeris::with_additional_kernel(
    SpkEphemeris&& store, SpkKernel&& kernel, std::string name, std::string_view sha256) {
  // Both are consumed whatever happens: a failure drops them here.
  SpkEphemeris owned = std::move(store);
  SpkKernel attached = std::move(kernel);
  auto checksum = core::normalized_sha256(sha256);
  if (!checksum) return std::unexpected(core::EphemerisError::computation(BAD_CHECKSUM));
  if (auto segments = attached.listed_segments(); !segments) {
    return std::unexpected(spk_ephemeris_error(segments.error()));
  }
  // The supported range stays the primary kernel's: an additional kernel
  // only fills in bodies and epochs inside it.
  attached.set_name(name);
  owned.metadata_.additional_kernels.push_back(
      core::KernelProvenance{std::move(name), std::move(*checksum)});
  KernelGuard kernels = owned.borrow_kernels();
  attached.set_segment_rules(kernels->front().segment_rules());
  kernels->push_back(std::move(attached));
  // States kept from earlier queries were found without this kernel.
  owned.workspace_->observers_epoch.clear();
  return owned;
}

std::expected<core::Position, core::EphemerisError> SpkEphemeris::position(
    core::Body body, const core::Instant& instant, const core::PositionOptions& options) const {
  // The request's own errors come before a busy kernel list. Preparing
  // writes only the workspace's single request, which no other query in
  // progress can be using: a single position runs no caller code.
  PositionWorkspace& workspace = *workspace_;
  if (auto prepared = prepare_position(time_, body, instant, options, workspace.single); !prepared)
    return std::unexpected(std::move(prepared.error()));
  KernelGuard kernels = borrow_kernels();
  OneSink sink;
  Interruption never;
  if (auto done = evaluate_positions(*kernels, workspace.single, workspace, sink, never); !done)
    return std::unexpected(error_of(std::move(done.error())));
  return sink.position;
}

std::expected<std::vector<core::Position>, core::EphemerisError> SpkEphemeris::positions(
    std::span<const core::Body> bodies, std::span<const core::Instant> instants,
    const core::PositionOptions& options) const {
  Interruption never;
  auto prepared = prepare_positions(time_, bodies, instants, options, never);
  if (!prepared) return std::unexpected(error_of(std::move(prepared.error())));
  std::vector<core::Position> result;
  result.reserve(bodies.size() * instants.size());
  KernelGuard kernels = borrow_kernels();
  VectorSink sink(result);
  if (auto done = evaluate_positions(*kernels, *prepared, *workspace_, sink, never); !done)
    return std::unexpected(error_of(std::move(done.error())));
  return result;
}

Interruptible<bool> SpkEphemeris::positions_into(
    std::span<const core::Body> bodies, std::span<const core::Instant> instants,
    const core::PositionOptions& options, const std::function<double*(std::size_t)>& allocate,
    Interruption& interruption) const {
  std::vector<std::int32_t> targets;
  targets.reserve(bodies.size());
  for (core::Body body : bodies) targets.push_back(core::naif_code(body));
  return positions_into(std::span<const std::int32_t>(targets), instants, options, allocate,
                        interruption);
}

Interruptible<bool> SpkEphemeris::positions_into(
    std::span<const std::int32_t> targets, std::span<const core::Instant> instants,
    const core::PositionOptions& options, const std::function<double*(std::size_t)>& allocate,
    Interruption& interruption) const {
  auto prepared = prepare_positions(time_, targets, instants, options, interruption);
  if (!prepared) return std::unexpected(std::move(prepared.error()));
  // N x B fits (checked above); the four columns are the allocator's to check.
  double* out = allocate(targets.size() * instants.size());
  if (out == nullptr) return false;
  KernelGuard kernels = borrow_kernels();
  FlatSink sink(out);
  if (auto done = evaluate_positions(*kernels, *prepared, *workspace_, sink, interruption); !done)
    return std::unexpected(std::move(done.error()));
  return true;
}

}  // namespace tarvex::spk
