// SPK Type 21: extended modified difference arrays. The layout of Type 1
// with records of DLSIZE = 4 * MAXDIM + 11 words; the trailer ends with
// the difference-line size and the record count N. Files written by the
// NAIF toolkit store MAXDIM there (at most 25 terms); a word of 71 to 111
// is read as DLSIZE itself.
//
// Format: NAIF, SPK Required Reading, "Type 21: Extended Modified
// Difference Arrays" (../shared/reference/naif-spk-segment-types.rst).
// Evaluation: difference_lines.hpp. Called through segment_types.hpp.
#include "spk/difference_lines.hpp"
#include "spk/segment_types.hpp"

namespace tarvex::spk {

namespace {

class Type21Evaluator final : public DifferenceLineEvaluator {
 protected:
  std::expected<DifferenceLineLayout, SpkError> layout(const SegmentWords& words) override {
    double trailer[2] = {};
    if (auto read = words.read_tail(trailer); !read) return std::unexpected(read.error());
    const double size = trailer[0];
    const double n = trailer[1];
    if (!is_count_in(n, 1.0, static_cast<double>(words.size())))
      return std::unexpected(words.error("record count"));
    std::uint64_t max_dim = 0;
    // At most 25 terms (the NAIF toolkit's MAXTRM), given as MAXDIM or as DLSIZE.
    if (is_count_in(size, 1.0, 25.0)) {
      max_dim = static_cast<std::uint64_t>(size);
    } else if (is_count_in(size, 71.0, 111.0) && (static_cast<std::uint64_t>(size) - 11) % 4 == 0) {
      max_dim = (static_cast<std::uint64_t>(size) - 11) / 4;
    } else {
      return std::unexpected(words.error("difference line size"));
    }
    return DifferenceLineLayout{static_cast<std::uint64_t>(n), max_dim, 2};
  }
};

}  // namespace

std::unique_ptr<SegmentEvaluator> make_type21_evaluator() {
  return std::make_unique<Type21Evaluator>();
}

}  // namespace tarvex::spk
