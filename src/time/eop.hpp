// Daily Earth orientation parameters (UT1-UTC and the pole coordinates) from
// an IERS EOP 20 C04 text table, interpolated linearly between rows and never
// extrapolated past the first or last row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/files.hpp"

namespace tarvex::time {

struct EopSample {
  double utc_jd = 0.0;     // MJD + 2400000.5
  double dut1_s = 0.0;     // UT1 - UTC
  double xp_arcsec = 0.0;  // pole x
  double yp_arcsec = 0.0;  // pole y
  bool operator==(const EopSample&) const = default;
};

struct EopError {
  // Order is part of the interface.
  enum class Kind : std::uint8_t {
    Io,
    InvalidPath,
    InvalidSha256,
    EmptyTable,
    UnsortedSamples,
    InvalidLine,
    NonFiniteValue,
    OutsideCoverage,
  };

  Kind kind = Kind::EmptyTable;
  core::IoError io{};    // Io
  std::size_t line = 0;  // InvalidLine, 1-based, header lines counted
  double jd = 0.0;       // OutsideCoverage: the date being sampled
  double start = 0.0;    // OutsideCoverage: first row
  double end = 0.0;      // OutsideCoverage: last row

  static EopError io_failure(core::IoError error) noexcept {
    return {Kind::Io, error, 0, 0.0, 0.0, 0.0};
  }
  static EopError of_kind(Kind kind) noexcept { return {kind, {}, 0, 0.0, 0.0, 0.0}; }
  static EopError invalid_line(std::size_t line) noexcept {
    return {Kind::InvalidLine, {}, line, 0.0, 0.0, 0.0};
  }
  static EopError outside_coverage(double jd, double start, double end) noexcept {
    return {Kind::OutsideCoverage, {}, 0, jd, start, end};
  }

  std::string message() const;
  bool operator==(const EopError&) const = default;
};

// One data row of a 20 C04 table (already trimmed, not blank, not a
// comment). Columns 5 to 8 are MJD, x, y, UT1-UTC; at least 8 columns.
std::expected<EopSample, EopError> parse_c04_line(std::string_view line, std::size_t line_number);

// Immutable after open; cheap to move (a vector and two strings).
class EarthOrientationTable {
 public:
  static std::expected<EarthOrientationTable, EopError> open(std::string_view path,
                                                             std::string_view sha256);

  const std::string& name() const noexcept { return name_; }
  const std::string& sha256() const noexcept { return sha256_; }
  std::span<const EopSample> samples() const noexcept { return samples_; }

  // The row itself on an exact hit, else a linear interpolation between the
  // neighbouring rows; the sample's utc_jd is the query.
  std::expected<EopSample, EopError> interpolated_sample(double utc_jd) const noexcept;
  // (x, y) of the pole in arcseconds.
  std::expected<std::pair<double, double>, EopError> polar_motion_arcsec(
      double utc_jd) const noexcept;
  // Solves UTC = UT1 - DUT1(UTC) / 86400 by a fixed three-step iteration.
  std::expected<double, EopError> utc_julian_day_from_ut1(double ut1_jd) const noexcept;

 private:
  EarthOrientationTable(std::string name, std::string sha256,
                        std::vector<EopSample> samples) noexcept
      : name_(std::move(name)), sha256_(std::move(sha256)), samples_(std::move(samples)) {}

  std::string name_;
  std::string sha256_;
  std::vector<EopSample> samples_;
};

}  // namespace tarvex::time
