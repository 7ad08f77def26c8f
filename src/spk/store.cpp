// Opening the store on its primary kernel, attaching further kernels, and
// the supported range that the primary kernel's coverage fixes.
#include "spk/store.hpp"

#include <algorithm>
#include <limits>
#include <map>

#include "core/checksum.hpp"
#include "core/path_name.hpp"
#include "spk/ephemeris.hpp"

namespace tarvex::spk {

namespace {

constexpr const char* BAD_CHECKSUM =
    "kernel SHA-256 must contain exactly 64 hexadecimal characters";

}  // namespace

std::expected<std::pair<double, double>, core::EphemerisError> common_contiguous_coverage(
    std::span<const SpkSegment> segments) {
  if (segments.empty())
    return std::unexpected(core::EphemerisError::computation("SPK kernel has no segments"));
  // Every segment counts, whatever its center or type: a target that the
  // engine may reach must be covered over the whole supported range.
  std::map<std::int32_t, std::vector<std::pair<double, double>>> by_target;
  for (const SpkSegment& segment : segments) {
    by_target[segment.target].emplace_back(segment.start_epoch, segment.end_epoch);
  }
  double common_start = -std::numeric_limits<double>::infinity();
  double common_end = std::numeric_limits<double>::infinity();
  for (auto& [target, intervals] : by_target) {
    std::stable_sort(intervals.begin(), intervals.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    double reach = intervals.front().second;
    for (std::size_t i = 1; i < intervals.size(); ++i) {
      if (reach < intervals[i].first) {
        return std::unexpected(core::EphemerisError::computation(
            "SPK target " + std::to_string(target) + " has discontinuous segment coverage"));
      }
      reach = std::max(reach, intervals[i].second);
    }
    common_start = std::max(common_start, intervals.front().first);
    common_end = std::min(common_end, reach);
  }
  if (common_start > common_end) {
    return std::unexpected(
        core::EphemerisError::computation("SPK targets have no common coverage interval"));
  }
  return std::pair{common_start, common_end};
}

std::expected<void, core::EphemerisError> reject_identical_target_and_center(std::int32_t target,
                                                                             std::int32_t center) {
  if (target != center) return {};
  return std::unexpected(core::EphemerisError::invalid_request(
      "spherical coordinates are undefined when target and origin are identical"));
}

std::expected<SpkEphemeris, core::EphemerisError> SpkEphemeris::open(const std::string& path,
                                                                     std::string_view sha256) {
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
  auto coverage = common_contiguous_coverage(*segments);
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
  owned.metadata_.additional_kernels.push_back(
      core::KernelProvenance{std::move(name), std::move(*checksum)});
  KernelGuard kernels = owned.borrow_kernels();
  kernels->push_back(std::move(attached));
  return owned;
}

}  // namespace tarvex::spk
