// Fuzz target: an IERS EOP 20 C04 table. The first 16 bytes of the input
// are two query doubles (a raw UTC Julian date and a fraction), the rest is
// the file. Covers EarthOrientationTable::open with parse_c04_line, and the
// lookups (interpolated_sample, polar_motion_arcsec, utc_julian_day_from_ut1)
// at raw dates, on rows, between rows and just outside the table.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz_support.hpp"
#include "time/eop.hpp"

namespace {

using tarvex::fuzz::ByteReader;
using tarvex::fuzz::consume;
using namespace tarvex::time;

constexpr std::size_t HEADER_BYTES = 16;

void look_up(const EarthOrientationTable& table, double jd) {
  auto sample = table.interpolated_sample(jd);
  if (!sample) consume(sample.error().message());
  auto pole = table.polar_motion_arcsec(jd);
  if (!pole) consume(pole.error().message());
  auto utc = table.utc_julian_day_from_ut1(jd);
  if (!utc) consume(utc.error().message());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarvex::fuzz::ScratchFile file("eop");
  const std::span<const std::uint8_t> input(data, size);
  const std::size_t header = std::min(size, HEADER_BYTES);
  ByteReader query(input.first(header));
  const double raw_jd = query.f64();
  const double fraction = query.unit();
  const std::span<const std::uint8_t> body = input.subspan(header);

  auto table = EarthOrientationTable::open(file.write(body), tarvex::fuzz::ANY_SHA256);
  if (!table) {
    consume(table.error().message());
    return 0;
  }
  const auto samples = table->samples();
  if (samples.empty()) std::abort();  // open refuses an empty table
  // A query exactly on a row returns that row unchanged.
  const EopSample& first = samples.front();
  auto hit = table->interpolated_sample(first.utc_jd);
  if (!hit || !(*hit == first)) std::abort();

  std::vector<double> dates{raw_jd, first.utc_jd, samples.back().utc_jd,
                            std::nextafter(first.utc_jd, -HUGE_VAL),
                            std::nextafter(samples.back().utc_jd, HUGE_VAL)};
  const std::size_t i =
      static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1));
  if (i + 1 < samples.size()) {
    const double lo = samples[i].utc_jd;
    const double hi = samples[i + 1].utc_jd;
    dates.push_back(lo + (hi - lo) * fraction);
    dates.push_back(lo + (hi - lo) / 2);
  }
  for (const double jd : dates) look_up(*table, jd);
  return 0;
}
