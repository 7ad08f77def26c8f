#include "tarvexkit/native/time_arrays.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace tarvex::kit {

namespace {

using core::EphemerisError;
using core::TimeScale;

// The engine wraps a time-kernel failure into a time-conversion error
// carrying its text.
template <class E>
std::unexpected<EphemerisError> time_error(const E& error) {
  return std::unexpected(EphemerisError::time_conversion(error.message()));
}

// Below this many elements a conversion stays on the calling thread.
constexpr std::size_t ELEMENTS_PER_THREAD = 32768;

// The elements from `begin` on, up to the first failure.
template <class Convert>
std::optional<ElementError> convert_block(std::span<const double> julian_days,
                                          std::span<double> out, std::size_t begin,
                                          const Convert& convert) {
  for (std::size_t index = 0; index < julian_days.size(); ++index) {
    const auto value = convert(julian_days[index]);
    if (!value) return ElementError{begin + index, value.error().message()};
    out[index] = *value;
  }
  return std::nullopt;
}

// Every element, in contiguous blocks on up to `threads` threads (the time
// tables are immutable and their conversions may run on any number of
// threads). Each block stops at its own first failure, and every block
// before it runs to its end, so the earliest failing block holds the first
// failing element of all.
template <class Convert>
std::expected<void, ElementError> each(std::span<const double> julian_days, std::span<double> out,
                                       std::size_t threads, const Convert& convert) {
  const std::size_t count = julian_days.size();
  const std::size_t blocks =
      std::max<std::size_t>(1, std::min(threads, count / ELEMENTS_PER_THREAD));
  const std::size_t size = (count + blocks - 1) / std::max<std::size_t>(blocks, 1);
  std::vector<std::optional<ElementError>> failures(blocks);
  const auto run = [&](std::size_t block) {
    const std::size_t begin = std::min(count, block * size);
    const std::size_t length = std::min(size, count - begin);
    failures[block] = convert_block(julian_days.subspan(begin, length), out.subspan(begin, length),
                                    begin, convert);
  };
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(blocks - 1);
    for (std::size_t block = 1; block < blocks; ++block) helpers.emplace_back(run, block);
    run(0);
  }
  for (auto& failure : failures) {
    if (failure) return std::unexpected(std::move(*failure));
  }
  return {};
}

}  // namespace

spk::EngineTime unlimited_engine_time(const spk::EngineTime* engine_time) {
  constexpr double UNLIMITED = std::numeric_limits<double>::infinity();
  spk::EngineTime unlimited(-UNLIMITED, UNLIMITED, -UNLIMITED, UNLIMITED);
  if (engine_time != nullptr && engine_time->leap_seconds()) {
    unlimited.attach_leap_second_kernel(*engine_time->leap_seconds());
  }
  if (engine_time != nullptr && engine_time->eop()) unlimited.attach_eop(*engine_time->eop());
  return unlimited;
}

TimeArrays::TimeArrays(const spk::EngineTime& engine_time, std::size_t threads)
    : checked_(engine_time), unlimited_(unlimited_engine_time(&engine_time)), threads_(threads) {}

std::expected<double, EphemerisError> TimeArrays::convert_one(double julian_day, TimeScale from,
                                                              TimeScale to) const {
  // Conversions that pass the day through unchanged (TT to TT) would let a
  // NaN through; the TDB conversion refuses it with the engine's message.
  if (!std::isfinite(julian_day)) {
    auto refused = unlimited_.tdb_seconds(from, julian_day);
    if (!refused) return std::unexpected(refused.error());
    return std::unexpected(EphemerisError::time_conversion(
        core::TimeConversionError::non_finite_julian_day().message()));
  }
  const auto& leap_seconds = unlimited_.leap_seconds();
  const auto& eop = unlimited_.eop();
  switch (to) {
    case TimeScale::Tt: return unlimited_.instant_as_tt(from, julian_day);
    case TimeScale::Tdb: {
      auto seconds = unlimited_.tdb_seconds(from, julian_day);
      if (!seconds) return std::unexpected(seconds.error());
      return *seconds / core::SECONDS_PER_DAY + core::J2000_JULIAN_DAY;
    }
    case TimeScale::Utc: {
      // Without a leap-second kernel the engine refuses UTC as it refuses
      // a UTC instant.
      if (!leap_seconds) return unlimited_.instant_as_tt(TimeScale::Utc, julian_day);
      auto utc = leap_seconds->utc_julian_day(from, eop ? &*eop : nullptr, julian_day);
      if (!utc) return time_error(utc.error());
      return *utc;
    }
    case TimeScale::Ut1: {
      if (!leap_seconds) return unlimited_.instant_as_tt(TimeScale::Ut1, julian_day);
      // Without the table, the engine's own refusal of a UT1 instant.
      if (!eop) {
        auto refused = unlimited_.tdb_seconds(TimeScale::Ut1, julian_day);
        if (!refused) return std::unexpected(refused.error());
        return std::unexpected(
            EphemerisError::time_conversion("UT1 requires an Earth orientation table"));
      }
      auto ut1 = leap_seconds->ut1_julian_day(from, *eop, julian_day);
      if (!ut1) return time_error(ut1.error());
      return *ut1;
    }
  }
  return std::unexpected(EphemerisError::invalid_request("unknown time scale"));
}

std::expected<void, ElementError> TimeArrays::convert(std::span<const double> julian_days,
                                                      TimeScale from, TimeScale to,
                                                      std::span<double> out) const {
  return each(julian_days, out, threads_,
              [&](double julian_day) { return convert_one(julian_day, from, to); });
}

std::expected<void, ElementError> TimeArrays::tdb_seconds(std::span<const double> julian_days,
                                                          TimeScale scale,
                                                          std::span<double> out) const {
  return each(julian_days, out, threads_,
              [&](double julian_day) { return checked_.tdb_seconds(scale, julian_day); });
}

}  // namespace tarvex::kit
