// Modified difference arrays ("difference lines"), the records of SPK
// Types 1 and 21: a reference epoch TL, MAXDIM step sizes G, the reference
// position and velocity interleaved (x, vx, y, vy, z, vz), the MAXDIM x 3
// difference table DT (column by column), then KQMAX1 and the three
// integration orders KQ. A state at TL + delta is the reference state
// advanced by the integrated divided-difference sums of the variable-step
// Adams scheme (F. T. Krogh, "Changing stepsize in the integration of
// differential equations using modified divided differences", Lecture
// Notes in Mathematics 362 (1974) 22-71).
//
// Record layout: NAIF, SPK Required Reading, Types 1 and 21
// (../shared/reference/naif-spk-segment-types.rst).
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "spk/segment_evaluator.hpp"

namespace tarvex::spk {

// Words in a record of `max_dim` terms: 4 * max_dim + 11 (71 for Type 1).
inline constexpr std::uint64_t difference_line_size(std::uint64_t max_dim) noexcept {
  return 4 * max_dim + 11;
}

// The state of one record at `epoch`; `record` holds difference_line_size(max_dim) words.
std::expected<core::CartesianState, SpkError> evaluate_difference_line(
    std::span<const double> record, std::uint32_t max_dim, double epoch, const SegmentWords& words);

// Where a segment's records are: N records of difference_line_size(max_dim)
// words from word 0, their final epochs after them; `trailer` words end
// the segment after the directory.
struct DifferenceLineLayout {
  std::uint64_t record_count = 0;
  std::uint64_t max_dim = 15;
  std::uint64_t trailer = 1;
};

// The evaluator of Types 1 and 21, which differ only in their trailer:
// the record of an epoch is the first whose final epoch is not before it
// (the last record past the end); the last record read is kept.
class DifferenceLineEvaluator : public SegmentEvaluator {
 public:
  std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                         double epoch) override;

 protected:
  virtual std::expected<DifferenceLineLayout, SpkError> layout(const SegmentWords& words) = 0;

 private:
  bool ready_ = false;
  DifferenceLineLayout layout_;
  std::vector<double> final_epochs_;
  std::uint64_t cached_index_ = 0;
  std::vector<double> record_;
};

}  // namespace tarvex::spk
