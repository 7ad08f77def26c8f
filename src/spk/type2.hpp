// SPK Type 2 segments: equal-length intervals, one record of Chebyshev
// coefficients (X, Y, Z sets) per interval, velocity from the derivative of
// the same polynomials. The batch evaluation over one segment is
// SpkKernel::evaluate_type2_at_epochs (defined in type2.cpp, declared with
// the kernel because it fills the kernel's two caches).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <vector>

#include "spk/spk_error.hpp"

namespace tarvex::spk {

// Position (km) and velocity (km/s) of a segment's target relative to its
// center. The all-zero value starts every chain sum.
struct StateVector {
  std::array<double, 3> position{};
  std::array<double, 3> velocity{};
  bool operator==(const StateVector&) const = default;
};

// Component-by-component sum, position first.
inline void add_state(StateVector& sum, const StateVector& link) noexcept {
  for (std::size_t i = 0; i < 3; ++i) sum.position[i] += link.position[i];
  for (std::size_t i = 0; i < 3; ++i) sum.velocity[i] += link.velocity[i];
}

// The validated directory (last four words) of one Type 2 segment.
struct Type2Directory {
  double init = 0.0;               // start epoch of record 0, TDB seconds past J2000
  double interval_length = 0.0;    // seconds
  std::uint32_t record_size = 0;   // RSIZE, words per record
  std::uint32_t record_count = 0;  // N
  bool operator==(const Type2Directory&) const = default;
};

// The most recently loaded record of one segment, decoded to native order.
struct Type2Record {
  std::vector<double> words;
  std::uint32_t record_index = 0;
  // Whether all 3n coefficients are finite, decided once at load so that
  // each evaluation need not scan them again.
  bool coefficients_finite = false;
};

// What the chain walk knows about the segment it asks to evaluate.
struct SegmentLoc {
  double start_epoch = 0.0;
  double end_epoch = 0.0;
  std::int32_t center = 0;
  std::int32_t data_type = 0;
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
  bool operator==(const SegmentLoc&) const = default;
};

// Within one file, the address pair identifies a segment; both caches use it.
struct SegmentKey {
  std::int32_t start_address = 0;
  std::int32_t end_address = 0;
  bool operator==(const SegmentKey&) const = default;
};

struct SegmentKeyHash {
  std::size_t operator()(const SegmentKey& key) const noexcept {
    const auto packed =
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(key.start_address)) << 32) |
        static_cast<std::uint32_t>(key.end_address);
    return std::hash<std::uint64_t>{}(packed);
  }
};

// Pure evaluation of one record (MID, RADIUS, then the X, Y, Z sets of
// n = (record_size - 2) / 3 coefficients) at one epoch, by the forward
// Chebyshev recurrence. A word list shorter than the record size claims is
// refused with the coefficient message rather than read past.
std::expected<StateVector, SpkError> evaluate_loaded_type2_record(std::span<const double> words,
                                                                  std::uint32_t record_size,
                                                                  double epoch);

}  // namespace tarvex::spk
