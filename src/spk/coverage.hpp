// The primary kernel's supported range: the span of TDB seconds that every
// target of the kernel covers without gaps.
#pragma once

#include <expected>
#include <span>
#include <utility>

#include "core/errors.hpp"
#include "spk/kernel.hpp"

namespace tarvex::spk {

// (start, end) in TDB seconds past J2000 covered without gaps by every target.
std::expected<std::pair<double, double>, core::EphemerisError> common_contiguous_coverage(
    std::span<const SpkSegment> segments);

// (earliest start, latest end) over all segments, gaps and all: the
// toolkit's range for kernels whose targets cover different spans.
std::expected<std::pair<double, double>, core::EphemerisError> overall_coverage(
    std::span<const SpkSegment> segments);

}  // namespace tarvex::spk
