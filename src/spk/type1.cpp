// SPK Type 1: modified difference arrays, 71-word records (15 terms), the
// final epoch of each record listed after the records, then a directory
// of every 100th epoch and the record count N. The record of an epoch is
// the first whose final epoch is not before it.
//
// Format: NAIF, SPK Required Reading, "Type 1: Modified Difference Arrays"
// (../shared/reference/naif-spk-segment-types.rst). Evaluation:
// difference_lines.hpp. Called through segment_types.hpp.
#include "spk/difference_lines.hpp"
#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

class Type1Evaluator final : public DifferenceLineEvaluator {
 protected:
  std::expected<DifferenceLineLayout, SpkError> layout(const SegmentWords& words) override {
    double n = 0.0;
    if (auto read = words.read_tail(std::span(&n, 1)); !read) return std::unexpected(read.error());
    if (!is_count_in(n, 1.0, static_cast<double>(words.size())))
      return std::unexpected(words.error("record count"));
    return DifferenceLineLayout{static_cast<std::uint64_t>(n), 15};
  }
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type1_evaluator() { return std::make_unique<Type1Evaluator>(); }

}  // namespace tarvex::spk
