// SPK Type 13: states at listed epochs, Hermite interpolation of each
// position coordinate through the positions and velocities of a window of
// S states centred on the epoch, the velocity its derivative. States,
// epochs, directory, then S - 1 and N.
//
// Format and window: NAIF, SPK Required Reading, "Type 13: Hermite
// Interpolation --- Unequal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp. Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <optional>

#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

namespace {

class Type13Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!table_) {
      double trailer[2] = {};
      if (auto read = words.read_tail(trailer); !read) return std::unexpected(read.error());
      if (!is_count_in(trailer[1], 1.0, static_cast<double>(words.size() / 7)))
        return std::unexpected(words.error("state count"));
      const auto n = static_cast<std::uint64_t>(trailer[1]);
      const double order = trailer[0];
      auto table = StateTable::listed(words, n, 6);
      if (!table) return std::unexpected(table.error());
      // The trailer holds the window size less one.
      // Windows past the NAIF toolkit's limit (degree 27, 14 states) are refused.
      if (!is_count_in(order, 0.0, std::min(13.0, static_cast<double>(n) - 1.0)))
        return std::unexpected(words.error("window size"));
      size_ = static_cast<std::size_t>(order) + 1;
      table_ = std::move(*table);
    }
    return hermite_state(*table_, words, epoch, size_);
  }

 private:
  std::optional<StateTable> table_;
  std::size_t size_ = 0;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type13_evaluator() {
  return std::make_unique<Type13Evaluator>();
}

}  // namespace tarvex::spk
