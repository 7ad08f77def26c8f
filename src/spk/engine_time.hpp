// How the engine turns an instant into TDB seconds past J2000 and into the
// TT/UT1 epochs of the Earth's rotation, which optional time data each
// conversion needs, and the geocentric state of a site on the Earth.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <utility>

#include "core/errors.hpp"
#include "core/types.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

namespace tarvex::spk {

// Constants of the built-in TDB - TT series used when no leap-second kernel
// is attached (the standard NAIF kernel values of DELTET/K, EB and M).
inline constexpr double BUILTIN_TDB_K_S = 0.001657;
inline constexpr double BUILTIN_TDB_EB = 0.01671;
inline constexpr double BUILTIN_TDB_M0_RAD = 6.239996;
inline constexpr double BUILTIN_TDB_M1_RAD_PER_S = 1.99096871e-7;

class EngineTime {
 public:
  // The supported range in TDB Julian days and the coverage in TDB seconds
  // past J2000 that they were rounded from.
  EngineTime(double start_tdb_jd, double end_tdb_jd, double start_tdb_s, double end_tdb_s) noexcept
      : start_jd_(start_tdb_jd), end_jd_(end_tdb_jd), start_s_(start_tdb_s), end_s_(end_tdb_s) {}

  void attach_leap_second_kernel(time::LeapSecondKernel kernel) {
    leap_seconds_ = std::move(kernel);
    ++revision_;
  }
  void attach_eop(time::EarthOrientationTable table) {
    eop_ = std::move(table);
    ++revision_;
  }
  // Replaces both slots at once.
  void attach_time_kernels(time::LeapSecondKernel kernel, time::EarthOrientationTable table) {
    leap_seconds_ = std::move(kernel);
    eop_ = std::move(table);
    ++revision_;
  }
  // Changes whenever a time kernel is attached: a conversion remembered
  // with the revision it was made under is still valid while it is equal.
  std::uint64_t revision() const noexcept { return revision_; }

  const std::optional<time::LeapSecondKernel>& leap_seconds() const noexcept { return leap_seconds_; }
  const std::optional<time::EarthOrientationTable>& eop() const noexcept { return eop_; }
  double start_jd() const noexcept { return start_jd_; }
  double end_jd() const noexcept { return end_jd_; }

  // TDB seconds past J2000, checked against the supported range (the
  // out-of-range error reports the caller's Julian day and scale Tdb). An
  // instant inside the range whose seconds fall just outside the coverage
  // (the range's Julian days are rounded) gives the coverage bound.
  std::expected<double, core::EphemerisError> tdb_seconds(core::TimeScale scale, double jd) const;
  // TT Julian day; no range check.
  std::expected<double, core::EphemerisError> instant_as_tt(core::TimeScale scale, double jd) const;
  // (UT1, TT) Julian days for the Earth's rotation; needs both time kernels.
  std::expected<std::pair<double, double>, core::EphemerisError> earth_rotation_epochs(core::TimeScale scale,
                                                                                      double jd) const;
  // The site relative to the geocenter, GCRS axes, km and km/s.
  std::expected<core::CartesianState, core::EphemerisError> observer_gcrs_state(
      const core::GeodeticObserver& observer, core::TimeScale scale, double jd) const;

 private:
  std::optional<time::LeapSecondKernel> leap_seconds_;
  std::optional<time::EarthOrientationTable> eop_;
  std::uint64_t revision_ = 0;
  double start_jd_;
  double end_jd_;
  double start_s_;
  double end_s_;
};

// TDB - TT by three passes of the one-term series at the TDB estimate.
double builtin_tdb_seconds_from_tt(double tt_seconds);

}  // namespace tarvex::spk
