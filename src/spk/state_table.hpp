// The discrete states (or packets) of SPK Types 8, 9, 12, 13 and 18 with
// their time tags, and the window of consecutive states an epoch is
// interpolated from. Tags are either equally spaced (first tag and step in
// the trailer) or listed after the states; packets are read a window at a
// time, and the last window read is kept.
//
// Layouts and window rules: NAIF, SPK Required Reading, "Supported Data
// Types", Types 8, 9, 12, 13, 18 (../shared/reference/naif-spk-segment-types.rst).
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <vector>

#include "spk/segment_evaluator.hpp"

namespace tarvex::spk {

class StateTable {
 public:
  // `count` packets of `packet_size` words from word 0, tags t0 + i * step.
  static std::expected<StateTable, SpkError> equal_steps(const SegmentWords& words,
                                                         std::uint64_t count,
                                                         std::uint32_t packet_size, double first,
                                                         double step);
  // `count` packets from word 0, their tags listed right after them.
  static std::expected<StateTable, SpkError> listed(const SegmentWords& words, std::uint64_t count,
                                                    std::uint32_t packet_size);

  std::size_t count() const noexcept { return count_; }
  double tag(std::size_t i) const noexcept {
    return tags_.empty() ? first_ + static_cast<double>(i) * step_ : tags_[i];
  }
  // Index of the last tag <= t (0 when t precedes them all).
  std::size_t last_at_or_before(double t) const noexcept;
  // Index of the tag nearest t, the later of two equally near.
  std::size_t nearest(double t) const noexcept;
  // The first index of the window of `size` (<= count) tags centred on t:
  // t between the middle two of an even window, an odd window centred on
  // the nearest tag, shifted inside the table near its ends.
  std::size_t centered_window(double t, std::size_t size) const noexcept;

  // Packets [first, first + size) as packet_size * size words.
  std::expected<std::span<const double>, SpkError> packets(const SegmentWords& words,
                                                           std::size_t first, std::size_t size);

 private:
  StateTable() = default;
  std::size_t count_ = 0;
  std::uint32_t packet_size_ = 6;
  double first_ = 0.0;
  double step_ = 0.0;
  std::vector<double> tags_;  // empty for equal steps
  // The last window read.
  std::size_t cached_first_ = 0;
  std::size_t cached_size_ = 0;
  std::vector<double> cached_;
};

// The state at `epoch` from the centred window of `size` six-word states:
// Lagrange interpolation of each component (Types 8, 9), or the Hermite
// polynomial of each position coordinate through the positions and
// velocities, differentiated for the velocity (Types 12, 13).
std::expected<core::CartesianState, SpkError> lagrange_state(StateTable& table,
                                                             const SegmentWords& words,
                                                             double epoch, std::size_t size);
std::expected<core::CartesianState, SpkError> hermite_state(StateTable& table,
                                                            const SegmentWords& words,
                                                            double epoch, std::size_t size);

// Types 8, 9, 12 and 13 are one evaluator: six-word states at equal steps
// (trailer: first epoch, step, order, N) or at listed epochs (trailer:
// order, N), interpolated over a centred window of order + 1 states. The
// order is the Lagrange degree (Types 8, 9; at most 27, as the NAIF
// toolkit allows) or the Hermite window size less one (Types 12, 13; at
// most 13, the toolkit's 14 states).
enum class StateSteps : std::uint8_t { Equal, Listed };
enum class StateInterpolation : std::uint8_t { Lagrange, Hermite };
std::unique_ptr<SegmentEvaluator> make_interpolated_states_evaluator(StateSteps steps,
                                                                     StateInterpolation method);

}  // namespace tarvex::spk
