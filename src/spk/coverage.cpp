#include "spk/coverage.hpp"

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace tarvex::spk {

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

std::expected<std::pair<double, double>, core::EphemerisError> overall_coverage(
    std::span<const SpkSegment> segments) {
  if (segments.empty())
    return std::unexpected(core::EphemerisError::computation("SPK kernel has no segments"));
  double start = std::numeric_limits<double>::infinity();
  double end = -std::numeric_limits<double>::infinity();
  for (const SpkSegment& segment : segments) {
    start = std::min(start, segment.start_epoch);
    end = std::max(end, segment.end_epoch);
  }
  return std::pair{start, end};
}

}  // namespace tarvex::spk
