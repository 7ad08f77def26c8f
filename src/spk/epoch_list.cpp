#include "spk/epoch_list.hpp"

#include <algorithm>
#include <cmath>

namespace tarvex::spk {

std::expected<std::vector<double>, SpkError> read_epoch_list(const SegmentWords& words,
                                                             std::uint64_t offset,
                                                             std::uint64_t count, bool strict) {
  if (count == 0 || count > words.size() || offset > words.size() - count)
    return std::unexpected(words.error("epoch list lies outside the segment"));
  std::vector<double> epochs(count);
  if (auto read = words.read(offset, epochs); !read) return std::unexpected(read.error());
  for (std::size_t i = 0; i < epochs.size(); ++i) {
    if (!std::isfinite(epochs[i])) return std::unexpected(words.error("epochs must be finite"));
    if (i > 0 && (strict ? !(epochs[i - 1] < epochs[i]) : !(epochs[i - 1] <= epochs[i])))
      return std::unexpected(words.error("epochs must increase"));
  }
  return epochs;
}

std::size_t centered_window_start(std::size_t size, std::size_t count,
                                  std::size_t last_at_or_before, std::size_t nearest) {
  std::size_t first = 0;
  if (size % 2 == 0) {
    // The epoch lies between window members size/2 and size/2 + 1 (one-based).
    const std::size_t before = size / 2 - 1;
    first = last_at_or_before > before ? last_at_or_before - before : 0;
  } else {
    const std::size_t half = (size - 1) / 2;
    first = nearest > half ? nearest - half : 0;
  }
  return std::min(first, count - size);
}

std::size_t last_epoch_at_or_before(const std::vector<double>& epochs, double t) {
  const auto after = std::upper_bound(epochs.begin(), epochs.end(), t);
  if (after == epochs.begin()) return 0;
  return static_cast<std::size_t>(after - epochs.begin()) - 1;
}

}  // namespace tarvex::spk
