// Julian days converted element by element with the engine's own time code
// (spk::EngineTime and the time kernels attached to it).
#pragma once

#include <cstddef>
#include <expected>
#include <span>
#include <string>

#include "core/types.hpp"
#include "spk/engine_time.hpp"

namespace tarvex::kit {

// The engine's time handling with the time kernels of `engine_time` (or
// none) and no supported range: conversions that must also work for
// instants outside the kernels.
spk::EngineTime unlimited_engine_time(const spk::EngineTime* engine_time = nullptr);

// The first element that failed and the engine's message for it.
struct ElementError {
  std::size_t index = 0;
  std::string message;
};

class TimeArrays {
 public:
  // Keeps `engine_time` (the store's, range-checked) by reference, and a
  // copy of its time kernels behind an unlimited range for conversions that
  // must work outside the kernel. Long arrays are split over up to `threads`
  // threads.
  TimeArrays(const spk::EngineTime& engine_time, std::size_t threads);

  // To TT as the engine converts an instant to TT; to TDB as its TDB
  // seconds past J2000 over 86400 plus J2000, without the range check; to
  // UTC and UT1 by the leap-second kernel with the attached Earth
  // orientation table. A non-finite Julian day is an error for every pair.
  std::expected<void, ElementError> convert(std::span<const double> julian_days,
                                            core::TimeScale from, core::TimeScale to,
                                            std::span<double> out) const;
  // The engine's TDB seconds past J2000, range check included.
  std::expected<void, ElementError> tdb_seconds(std::span<const double> julian_days,
                                                core::TimeScale scale, std::span<double> out) const;

 private:
  std::expected<double, core::EphemerisError> convert_one(double julian_day, core::TimeScale from,
                                                          core::TimeScale to) const;

  const spk::EngineTime& checked_;
  spk::EngineTime unlimited_;
  std::size_t threads_;
};

}  // namespace tarvex::kit
