// Barycentric states by center chains: a body's state relative to the
// solar-system barycenter is the sum of the links target -> center ->
// ... -> 0, each link served by one Type 2 segment of some kernel.
// Precedence: the earliest kernel with a covering segment wins; within a
// kernel, the segment later in the file wins.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "core/types.hpp"
#include "spk/kernel.hpp"
#include "spk/kernel_list.hpp"
#include "spk/spk_error.hpp"

namespace tarvex::spk {

// Longest center chain followed before it is taken for a cycle.
inline constexpr std::uint8_t MAX_CHAIN_LINKS = 32;

// Component-by-component sum, position first; the all-zero state starts
// every chain sum.
inline void add_state(core::CartesianState& sum, const core::CartesianState& link) noexcept {
  for (std::size_t i = 0; i < 3; ++i) sum.position[i] += link.position[i];
  for (std::size_t i = 0; i < 3; ++i) sum.velocity[i] += link.velocity[i];
}

// Barycentric state of `target` at each epoch into out[0 .. epochs.size())
// (element i for epoch i; `out` holds at least as many states).
std::expected<void, SpkError> barycentric_states_into(KernelList& kernels, std::int32_t target,
                                                      std::span<const double> epochs,
                                                      std::span<core::CartesianState> out);

// The same as a new list.
std::expected<std::vector<core::CartesianState>, SpkError> barycentric_states_across_kernels(
    KernelList& kernels, std::int32_t target, std::span<const double> epochs);

std::expected<core::CartesianState, SpkError> barycentric_state_across_kernels(KernelList& kernels,
                                                                               std::int32_t target,
                                                                               double epoch);

}  // namespace tarvex::spk
