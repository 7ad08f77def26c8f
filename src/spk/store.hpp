// The store's questions of its kernels: the primary kernel's common
// contiguous coverage, and barycentric states assembled by following a
// body's center chain across all kernels, one Type 2 segment per link.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <utility>
#include <vector>

#include "core/errors.hpp"
#include "spk/kernel.hpp"
#include "spk/kernel_list.hpp"
#include "spk/spk_error.hpp"
#include "spk/type2.hpp"

namespace tarvex::spk {

// Longest center chain followed before it is taken for a cycle.
inline constexpr std::uint8_t MAX_CHAIN_LINKS = 32;

// (start, end) in TDB seconds past J2000 covered without gaps by every target.
std::expected<std::pair<double, double>, core::EphemerisError> common_contiguous_coverage(
    std::span<const SpkSegment> segments);

// Barycentric state of `target` at each epoch (element i for epoch i).
// Precedence: the earliest kernel with a covering segment wins; within a
// kernel, the segment later in the file wins.
std::expected<std::vector<StateVector>, SpkError> barycentric_states_across_kernels(
    KernelList& kernels, std::int32_t target, std::span<const double> epochs);

std::expected<StateVector, SpkError> barycentric_state_across_kernels(KernelList& kernels,
                                                                      std::int32_t target,
                                                                      double epoch);

std::expected<void, core::EphemerisError> reject_identical_target_and_center(std::int32_t target,
                                                                             std::int32_t center);

}  // namespace tarvex::spk
