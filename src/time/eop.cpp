#include "time/eop.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "core/checksum.hpp"
#include "core/format.hpp"
#include "core/path_name.hpp"
#include "core/text.hpp"
#include "time/decimal.hpp"
#include "time/text_scan.hpp"

namespace tarvex::time {

namespace {

constexpr double MJD_OFFSET_DAYS = 2400000.5;
constexpr std::size_t C04_REQUIRED_COLUMNS = 8;

}  // namespace

std::string EopError::message() const {
  switch (kind) {
    case Kind::Io: return io.message();
    case Kind::InvalidPath: return "EOP table path has no filename";
    case Kind::InvalidSha256: return "EOP table SHA-256 must be 64 hexadecimal characters";
    case Kind::EmptyTable: return "EOP table contains no DUT1 samples";
    case Kind::UnsortedSamples: return "EOP DUT1 samples must be strictly increasing in UTC";
    case Kind::InvalidLine: return "invalid IERS EOP 20 C04 line " + std::to_string(line);
    case Kind::NonFiniteValue: return "EOP epoch, DUT1, and polar motion must be finite";
    case Kind::OutsideCoverage: {
      std::string text = "UTC Julian day ";
      core::append_plain_float(text, jd);
      text += " is outside EOP coverage [";
      core::append_plain_float(text, start);
      text += ", ";
      core::append_plain_float(text, end);
      text += ']';
      return text;
    }
  }
  return "EOP table contains no DUT1 samples";
}

std::expected<EopSample, EopError> parse_c04_line(std::string_view line, std::size_t line_number) {
  // Only the first eight columns matter; the rest of the row is never
  // scanned, whatever it holds.
  std::string_view columns[C04_REQUIRED_COLUMNS];
  std::size_t count = 0;
  FieldCursor fields(line, /*comma_separates=*/false);
  while (count < C04_REQUIRED_COLUMNS && fields.next(columns[count])) ++count;
  if (count < C04_REQUIRED_COLUMNS) return std::unexpected(EopError::invalid_line(line_number));

  double values[4];
  for (std::size_t i = 0; i < 4; ++i) {
    const std::optional<double> value = parse_decimal_literal(columns[4 + i]);
    if (!value) return std::unexpected(EopError::invalid_line(line_number));
    values[i] = *value;
  }
  const double mjd = values[0], xp = values[1], yp = values[2], dut1 = values[3];
  if (!std::isfinite(mjd) || !std::isfinite(xp) || !std::isfinite(yp) || !std::isfinite(dut1)) {
    return std::unexpected(EopError::of_kind(EopError::Kind::NonFiniteValue));
  }
  return EopSample{mjd + MJD_OFFSET_DAYS, dut1, xp, yp};
}

std::expected<EarthOrientationTable, EopError> EarthOrientationTable::open(
    std::string_view path, std::string_view sha256) {
  std::optional<std::string> name = core::final_path_component(path);
  if (!name) return std::unexpected(EopError::of_kind(EopError::Kind::InvalidPath));
  auto text = core::read_text_file(path);
  if (!text) return std::unexpected(EopError::io_failure(text.error()));
  std::optional<std::string> checksum = core::normalized_sha256(sha256);
  if (!checksum) return std::unexpected(EopError::of_kind(EopError::Kind::InvalidSha256));

  std::vector<EopSample> samples;
  // One row per line at most; counting line feeds is far cheaper than
  // regrowing the vector.
  samples.reserve(static_cast<std::size_t>(std::count(text->begin(), text->end(), '\n')) + 1);
  LineCursor lines(*text);
  std::string_view line;
  std::size_t line_number = 0;
  while (lines.next(line)) {
    ++line_number;
    const std::string_view trimmed = core::trim_unicode_white_space(line);
    if (trimmed.empty() || trimmed.front() == '#') continue;
    auto sample = parse_c04_line(trimmed, line_number);
    if (!sample) return std::unexpected(sample.error());
    samples.push_back(*sample);
  }
  if (samples.empty()) return std::unexpected(EopError::of_kind(EopError::Kind::EmptyTable));
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if (!(samples[i].utc_jd > samples[i - 1].utc_jd)) {
      return std::unexpected(EopError::of_kind(EopError::Kind::UnsortedSamples));
    }
  }
  samples.shrink_to_fit();
  return EarthOrientationTable(std::move(*name), std::move(*checksum), std::move(samples));
}

std::expected<EopSample, EopError> EarthOrientationTable::interpolated_sample(
    double jd) const noexcept {
  if (!std::isfinite(jd)) return std::unexpected(EopError::of_kind(EopError::Kind::NonFiniteValue));
  const EopSample& first = samples_.front();
  const EopSample& last = samples_.back();
  if (jd < first.utc_jd || jd > last.utc_jd) {
    return std::unexpected(EopError::outside_coverage(jd, first.utc_jd, last.utc_jd));
  }

  // Rows are strictly increasing, so bisection picks the same rows as a
  // linear scan for "the first row bit-equal to jd, else the first row
  // greater than jd": at most one row compares equal to jd, and it is the
  // lower bound.
  const auto by_date = [](const EopSample& sample, double value) { return sample.utc_jd < value; };
  const auto candidate = std::lower_bound(samples_.begin(), samples_.end(), jd, by_date);
  if (candidate != samples_.end() &&
      std::bit_cast<std::uint64_t>(candidate->utc_jd) == std::bit_cast<std::uint64_t>(jd)) {
    return *candidate;
  }
  // A numerically equal but not bit-equal row (only -0.0 against +0.0) is
  // passed over, exactly as the scan passes over it.
  auto hi = candidate;
  while (hi != samples_.end() && !(hi->utc_jd > jd)) ++hi;
  if (hi == samples_.end()) {
    // Only reachable for jd == -0.0 against a last row of +0.0: there is no
    // row after it, and its values are the only sensible answer.
    return EopSample{jd, last.dut1_s, last.xp_arcsec, last.yp_arcsec};
  }
  const EopSample& upper = *hi;
  const EopSample& lower = *(hi - 1);
  const double f = (jd - lower.utc_jd) / (upper.utc_jd - lower.utc_jd);
  const double g = 1.0 - f;
  return EopSample{jd, std::fma(lower.dut1_s, g, upper.dut1_s * f),
                   std::fma(lower.xp_arcsec, g, upper.xp_arcsec * f),
                   std::fma(lower.yp_arcsec, g, upper.yp_arcsec * f)};
}

std::expected<std::pair<double, double>, EopError> EarthOrientationTable::polar_motion_arcsec(
    double jd) const noexcept {
  const auto sample = interpolated_sample(jd);
  if (!sample) return std::unexpected(sample.error());
  return std::pair{sample->xp_arcsec, sample->yp_arcsec};
}

std::expected<double, EopError> EarthOrientationTable::utc_julian_day_from_ut1(
    double ut1) const noexcept {
  if (!std::isfinite(ut1))
    return std::unexpected(EopError::of_kind(EopError::Kind::NonFiniteValue));
  // First pass samples at UT1 as if it were UTC; two more passes converge to
  // far below a microsecond since DUT1 changes by milliseconds per day.
  auto sample = interpolated_sample(ut1);
  if (!sample) return std::unexpected(sample.error());
  double utc = ut1 + sample->dut1_s / -86400.0;
  for (int pass = 0; pass < 2; ++pass) {
    sample = interpolated_sample(utc);
    if (!sample) return std::unexpected(sample.error());
    utc = ut1 - sample->dut1_s / 86400.0;
  }
  // Only a coverage check: the answer must lie inside the table too.
  sample = interpolated_sample(utc);
  if (!sample) return std::unexpected(sample.error());
  return utc;
}

}  // namespace tarvex::time
