// The time tags of the discrete-state and difference-line SPK types, and
// the choice of the states an epoch is interpolated from.
//
// Layouts and window rules: NAIF, SPK Required Reading, "Supported Data
// Types", Types 1, 5, 8, 9, 12, 13, 18, 21
// (../shared/reference/naif-spk-segment-types.rst). The directory of every
// 100th epoch that follows each list only speeds up a search through the
// file; the list is read whole here, once per segment, so it is not used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

#include "spk/segment_evaluator.hpp"

namespace tarvex::spk {

// `count` epochs from word `offset` of the segment, checked to be finite
// and increasing (strictly when `strict`).
std::expected<std::vector<double>, SpkError> read_epoch_list(const SegmentWords& words,
                                                             std::uint64_t offset,
                                                             std::uint64_t count, bool strict);

// The first index of a window of `size` consecutive tags out of `count`
// (size <= count) centred on `epoch` as Types 8, 9, 12 and 13 centre it:
// an even window has the epoch between its two middle tags, an odd one is
// centred on the nearest tag; near either end it is shifted to lie inside.
// `last_at_or_before` is the index of the last tag <= epoch (0 when none),
// `nearest` that of the nearest tag (the later on a tie: an epoch halfway
// between two tags, as their distances compare in doubles, is centred on
// the later one, as the NAIF toolkit centres it; the two windows differ by
// the interpolation error, metres to kilometres for sparse states).
std::size_t centered_window_start(std::size_t size, std::size_t count,
                                  std::size_t last_at_or_before, std::size_t nearest);

// Index of the last epoch <= t in an increasing list (0 when t is before all).
std::size_t last_epoch_at_or_before(const std::vector<double>& epochs, double t);

}  // namespace tarvex::spk
