// Altitude and hour angle of one body at a site over arrays of TT instants,
// for the search core (see horizon_quantity.hpp).
#include "tarvexkit/native/horizon_quantity.hpp"

#include <cmath>
#include <numbers>
#include <vector>

#include "spk/interruption.hpp"
#include "tarvexkit/native/earth_rotation.hpp"

namespace tarvex::kit {

double moon_standard_altitude_deg(double distance_au) noexcept {
  return PLANET_ALTITUDE_DEG -
         std::asin(core::MOON_MEAN_RADIUS_KM / (distance_au * core::AU_KM)) * (180.0 / std::numbers::pi);
}

search::Evaluator horizon_evaluator(const HorizonQuantity& quantity,
                                    std::span<spk::SpkEphemeris* const> stores,
                                    const spk::EngineTime& time) {
  return [quantity, stores, &time](std::size_t worker, std::span<const double> instants,
                                   std::span<const std::uint32_t>,
                                   std::span<double> values)
             -> std::expected<void, core::EphemerisError> {
    const std::size_t n = instants.size();
    std::vector<core::Instant> days(n);
    for (std::size_t i = 0; i < n; ++i) days[i] = {instants[i], core::TimeScale::Tt};
    std::vector<double> rows(4 * n);
    const std::int32_t targets[] = {quantity.target};
    spk::Interruption never;
    auto filled = stores[worker]->positions_into(
        targets, days, quantity.options, [&rows](std::size_t) { return rows.data(); }, never);
    if (!filled) return std::unexpected(spk::error_of(std::move(filled.error())));
    std::vector<double> ra(n), dec(n), horizon(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
      ra[i] = rows[4 * i];
      dec[i] = rows[4 * i + 1];
    }
    if (auto failure = fill_horizon(time, core::TimeScale::Tt, instants, ra, dec, quantity.site,
                                    1, horizon.data())) {
      return std::unexpected(core::EphemerisError::time_conversion(failure->message));
    }
    for (std::size_t i = 0; i < n; ++i) {
      if (quantity.value == HorizonValue::HourAngleSine) {
        values[i] = std::sin(horizon[3 * i + 2] * (std::numbers::pi / 180.0));
      } else {
        const double level = std::isnan(quantity.altitude_deg)
                                 ? moon_standard_altitude_deg(rows[4 * i + 2])
                                 : quantity.altitude_deg;
        values[i] = horizon[3 * i] - level;
      }
    }
    return {};
  };
}

}  // namespace tarvex::kit
