// SPK Type 8: states at equal steps, Lagrange interpolation of each of the
// six components over a window of DEGREE + 1 states centred on the epoch.
// Trailer: first epoch, step, degree, N.
//
// Format and window: NAIF, SPK Required Reading, "Type 8: Lagrange
// Interpolation --- Equal Time Steps" (../shared/reference/naif-spk-segment-types.rst).
// Calls state_table.hpp. Called through segment_types.hpp.
#include <algorithm>
#include <cmath>
#include <optional>

#include "spk/segment_types.hpp"
#include "spk/state_table.hpp"

namespace tarvex::spk {

namespace {

class Type8Evaluator final : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override {
    if (!table_) {
      double trailer[4] = {};
      if (auto read = words.read_tail(trailer); !read) return std::unexpected(read.error());
      if (!is_count_in(trailer[3], 1.0, static_cast<double>(words.size() / 6)))
        return std::unexpected(words.error("state count"));
      const auto n = static_cast<std::uint64_t>(trailer[3]);
      const double order = trailer[2];
      auto table = StateTable::equal_steps(words, n, 6, trailer[0], trailer[1]);
      if (!table) return std::unexpected(table.error());
      // The trailer holds the polynomial degree; the window is one larger.
      // Degrees past the NAIF toolkit's limit of 27 are refused, as it refuses them.
      if (!is_count_in(order, 0.0, std::min(27.0, static_cast<double>(n) - 1.0)))
        return std::unexpected(words.error("polynomial degree"));
      size_ = static_cast<std::size_t>(order) + 1;
      table_ = std::move(*table);
    }
    return lagrange_state(*table_, words, epoch, size_);
  }

 private:
  std::optional<StateTable> table_;
  std::size_t size_ = 0;
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type8_evaluator() {
  return std::make_unique<Type8Evaluator>();
}

}  // namespace tarvex::spk
