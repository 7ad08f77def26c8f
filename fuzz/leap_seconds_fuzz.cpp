// Fuzz target: a NAIF leap-second kernel. The first 16 bytes of the input
// are two query doubles (a raw Julian date and an offset in days), the rest
// is the file. Covers the text-kernel parser pieces on the raw text (so that
// they are reached even when the file fails a later check; every accepted
// number is compared with strtod), LeapSecondKernel::open, and every
// conversion at dates around the kernel's own leap-second entries and at
// raw dates.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "fuzz_support.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"
#include "time/text_kernel.hpp"

namespace {

using tarvex::core::TimeScale;
using tarvex::fuzz::ByteReader;
using tarvex::fuzz::consume;
using namespace tarvex::time;

constexpr std::size_t HEADER_BYTES = 16;

// A small fixed table (1972 to 2020) so that UT1 conversions get past the
// missing-table check; the table's own parser has a target of its own.
constexpr std::string_view EOP_TEXT =
    "# year month day hour MJD x y UT1-UTC\n"
    "1972 1 1 0 41317 0.1 0.2 -0.04\n"
    "1980 1 1 0 44239 0.0 0.3 0.27\n"
    "1999 1 1 0 51179 0.05 0.35 0.71\n"
    "2017 1 1 0 57754 0.02 0.28 0.59\n"
    "2020 1 1 0 58849 0.07 0.29 -0.17\n";

const EarthOrientationTable& fixed_table() {
  static const EarthOrientationTable table = [] {
    const tarvex::fuzz::ScratchFile file("lsk-eop");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(EOP_TEXT.data());
    auto opened =
        EarthOrientationTable::open(file.write({bytes, EOP_TEXT.size()}), tarvex::fuzz::ANY_SHA256);
    if (!opened) std::abort();
    return std::move(*opened);
  }();
  return table;
}

// The number reader must round exactly as the C library does for every
// literal it accepts (its grammar is a subset of strtod's).
void check_number(std::string_view token) {
  const std::optional<double> parsed = parse_number(token);
  if (!parsed) return;
  std::string text(token);
  std::replace(text.begin(), text.end(), 'D', 'E');
  std::replace(text.begin(), text.end(), 'd', 'E');
  const double expected = std::strtod(text.c_str(), nullptr);
  if (std::isnan(expected) ? !std::isnan(*parsed)
                           : std::memcmp(&expected, &*parsed, sizeof expected) != 0) {
    std::abort();
  }
}

// The parser pieces on the raw text: tokens, numbers and date literals of
// every assignment, bounded so that one input stays fast.
void parse_pieces(std::string_view text) {
  auto data = extract_data_sections(text);
  if (!data) {
    consume(data.error().message());
    return;
  }
  const AssignmentMap assignments = parse_assignments(*data);
  std::size_t budget = 512;
  for (const auto& [keyword, value] : assignments) {
    auto number = scalar(assignments, keyword);
    if (!number) consume(number.error().message());
    for (std::string_view token : value_tokens(value)) {
      if (budget-- == 0) return;
      check_number(token);
      auto date = parse_date_literal(token);
      if (!date) consume(date.error().message());
    }
  }
}

void convert_everywhere(const LeapSecondKernel& kernel, double jd) {
  const EarthOrientationTable& eop = fixed_table();
  auto offset = kernel.tai_minus_utc(jd);
  if (!offset) consume(offset.error().message());
  consume(kernel.tdb_minus_tt((jd - 2451545.0) * 86400.0));
  for (const TimeScale scale : {TimeScale::Utc, TimeScale::Ut1, TimeScale::Tt, TimeScale::Tdb}) {
    for (auto result :
         {kernel.tdb_seconds(scale, jd), kernel.tdb_seconds_with_eop(scale, eop, jd),
          kernel.tt_julian_day(scale, nullptr, jd), kernel.tt_julian_day(scale, &eop, jd),
          kernel.utc_julian_day(scale, nullptr, jd), kernel.utc_julian_day(scale, &eop, jd),
          kernel.ut1_julian_day(scale, eop, jd)}) {
      if (!result) consume(result.error().message());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const tarvex::fuzz::ScratchFile file("lsk");
  const std::span<const std::uint8_t> input(data, size);
  const std::size_t header = std::min(size, HEADER_BYTES);
  ByteReader query(input.first(header));
  const double raw_jd = query.f64();
  const double offset_days = query.f64();
  const std::span<const std::uint8_t> body = input.subspan(header);

  parse_pieces({reinterpret_cast<const char*>(body.data()), body.size()});

  auto kernel = LeapSecondKernel::open(file.write(body), tarvex::fuzz::ANY_SHA256);
  if (!kernel) {
    consume(kernel.error().message());
    return 0;
  }
  std::vector<double> dates{raw_jd, 2451545.0};
  const auto entries = kernel->entries();
  for (std::size_t i = 0; i < entries.size() && i < 64; ++i) {
    dates.push_back(entries[i].effective_jd);
    dates.push_back(std::nextafter(entries[i].effective_jd, 0.0));
  }
  if (!entries.empty()) {
    dates.push_back(entries.front().effective_jd + offset_days);
    dates.push_back(entries.back().effective_jd + offset_days);
  }
  for (const double jd : dates) convert_everywhere(*kernel, jd);
  return 0;
}
