// SPK Type 18: ESOC/DDID packets at listed epochs. Subtype 0: 12-word
// packets (position, velocity, velocity, acceleration); the position is
// the Hermite polynomial through the positions and first velocities, the
// velocity the Hermite polynomial through the second velocities and the
// accelerations. Subtype 1: 6-word packets, position and velocity each by
// Lagrange interpolation. The window holds at most WINDOW/2 tags on each
// side of the epoch and is cut short, not shifted, near the segment's ends.
// Packets, epochs, directory, then subtype, window size and N.
//
// Format and window: NAIF, SPK Required Reading, "Type 18: ESOC/DDID
// Hermite/Lagrange Interpolation" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp, interpolation.hpp. Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "spk/interpolation.hpp"
#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

namespace {

class Type18Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!table_) {
      double trailer[3] = {};
      if (auto read = words.read_tail(trailer); !read) return std::unexpected(read.error());
      if (!is_count_in(trailer[0], 0.0, 1.0)) return std::unexpected(words.error("subtype"));
      hermite_ = trailer[0] == 0.0;
      const std::uint32_t packet = hermite_ ? 12 : 6;
      if (!is_count_in(trailer[2], 1.0, static_cast<double>(words.size() / (packet + 1))))
        return std::unexpected(words.error("packet count"));
      // The NAIF toolkit's limit: degree 27, so 14 Hermite or 28 Lagrange points.
      if (!is_count_in(trailer[1], 1.0, hermite_ ? 14.0 : 28.0))
        return std::unexpected(words.error("window size"));
      auto table = StateTable::listed(words, static_cast<std::uint64_t>(trailer[2]), packet);
      if (!table) return std::unexpected(table.error());
      window_ = static_cast<std::size_t>(trailer[1]);
      table_ = std::move(*table);
    }
    const StateTable& table = *table_;
    const std::size_t n = table.count();
    // The tags up to half a window on either side of the epoch.
    const std::size_t low = table.last_at_or_before(epoch);
    const std::size_t half = window_ / 2;
    const std::size_t take = std::max<std::size_t>(half, 1);
    const std::size_t first = low + 1 > take ? low + 1 - take : 0;
    const std::size_t last = std::min(n - 1, low + take);
    const std::size_t size = last - first + 1;
    const std::uint32_t packet = hermite_ ? 12 : 6;
    auto packets = table_->packets(words, first, size);
    if (!packets) return std::unexpected(packets.error());
    std::vector<double> tags(size);
    for (std::size_t i = 0; i < size; ++i) tags[i] = table.tag(first + i);
    std::vector<double> a(size);
    std::vector<double> b(size);
    auto column = [&](std::size_t c, std::vector<double>& out) {
      for (std::size_t i = 0; i < size; ++i) out[i] = (*packets)[i * packet + c];
    };
    core::CartesianState out;
    for (std::size_t c = 0; c < 3; ++c) {
      if (hermite_) {
        column(c, a);
        column(c + 3, b);
        out.position[c] = hermite_value(tags, a, b, epoch).value;
        column(c + 6, a);
        column(c + 9, b);
        out.velocity[c] = hermite_value(tags, a, b, epoch).value;
      } else {
        column(c, a);
        out.position[c] = lagrange_value(tags, a, epoch);
        column(c + 3, a);
        out.velocity[c] = lagrange_value(tags, a, epoch);
      }
    }
    return out;
  }

 private:
  std::optional<StateTable> table_;
  std::size_t window_ = 0;
  bool hermite_ = true;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type18_evaluator() {
  return std::make_unique<Type18Evaluator>();
}

}  // namespace tarvex::spk
