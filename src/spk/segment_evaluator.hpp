// The seam between reading a DAF file and evaluating its segments: an
// evaluator turns the words of one segment into a state at an epoch, for
// one SPK data type, and keeps whatever it has read of that segment (its
// own record cache). The file side is reached only through SegmentWords.
//
// Segment layouts: NAIF, SPK Required Reading, "Supported Data Types"
// (../shared/reference/naif-spk-segment-types.rst).
#pragma once

#include <cmath>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "spk/spk_error.hpp"
#include "spk/type2.hpp"

namespace tarvex::spk {

// Read access to the words of one segment, zero-based within the segment.
class SegmentWords {
 public:
  // Reads out.size() words from one-based DAF `address` into `out`.
  using Reader = std::expected<void, SpkError> (*)(void* context, std::int32_t address,
                                                   std::span<double> out);

  SegmentWords(void* context, Reader reader, const SegmentLoc& location) noexcept
      : context_(context), reader_(reader), location_(location) {}

  const SegmentLoc& location() const noexcept { return location_; }
  std::int32_t data_type() const noexcept { return location_.data_type; }
  // Words in the segment.
  std::uint64_t size() const noexcept {
    return static_cast<std::uint64_t>(location_.end_address) -
           static_cast<std::uint64_t>(location_.start_address) + 1u;
  }
  // Words [offset, offset + out.size()); a range past the segment's end is
  // an invalid-segment error of this segment's type.
  std::expected<void, SpkError> read(std::uint64_t offset, std::span<double> out) const;
  // The last `count` words (the trailer every type ends with).
  std::expected<void, SpkError> read_tail(std::span<double> out) const;

  // The error "invalid SPK Type N segment: reason" for this segment.
  SpkError error(const char* reason) const {
    return SpkError::invalid_segment_data(location_.data_type, reason);
  }

 private:
  void* context_;
  Reader reader_;
  SegmentLoc location_;
};

// Records of `size` words, one every `interval` seconds from `init`
// (Types 3 and 20): the record an epoch falls in (the first or the last
// beyond the ends, whose series the NAIF toolkit extends), read when it is
// not the one read last.
class EvenRecords {
 public:
  void set(double init, double interval, std::uint64_t count, std::uint64_t size) noexcept {
    init_ = init;
    interval_ = interval;
    count_ = count;
    size_ = size;
  }
  bool is_set() const noexcept { return size_ != 0; }
  std::uint64_t size() const noexcept { return size_; }
  double init() const noexcept { return init_; }
  double interval() const noexcept { return interval_; }

  // The index of the record for `epoch`, which `record()` then holds.
  std::expected<std::uint64_t, SpkError> load(const SegmentWords& words, double epoch);
  std::span<const double> record() const noexcept { return record_; }

 private:
  double init_ = 0.0;
  double interval_ = 0.0;
  std::uint64_t count_ = 0;
  std::uint64_t size_ = 0;
  std::uint64_t cached_index_ = 0;
  std::vector<double> record_;
};

// One segment's evaluator; made on the first query of the segment and kept
// by the kernel for the segment's lifetime.
class SegmentEvaluator {
 public:
  virtual ~SegmentEvaluator() = default;
  // The state relative to the segment's center, in the segment's frame, at
  // `epoch` (TDB seconds past J2000), which the caller has checked to lie
  // within the segment's time bounds.
  virtual std::expected<core::CartesianState, SpkError> state_at(const SegmentWords& words,
                                                                 double epoch) = 0;
};

// How far an epoch may lie outside the record that serves it, in units of
// the record's half-length, for the Chebyshev types (3 and 20): the bounds
// of excerpted segments pass their last record by rounding (by 5e-11 in
// mar022-1.bsp); an epoch farther out means damaged record words or
// directory, and a series evaluated there is meaningless.
inline constexpr double RECORD_ARGUMENT_SLACK = 1e-6;

// Whether every component of `state` is finite.
inline bool is_finite_state(const core::CartesianState& state) noexcept {
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(state.position[i]) || !std::isfinite(state.velocity[i])) return false;
  return true;
}

// Whether `value` is an integer in [low, high] (NaN is not).
inline bool is_count_in(double value, double low, double high) noexcept {
  return value >= low && value <= high && static_cast<double>(static_cast<std::int64_t>(value)) == value;
}

}  // namespace tarvex::spk
