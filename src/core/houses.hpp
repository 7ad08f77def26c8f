// House cusps of a site at an instant for the strict module's four systems
// (Placidus, Campanus, Equal, Whole Sign), with ascendant, midheaven, RAMC,
// local sidereal time and true obliquity. The cusps are rows of the table
// of eighteen systems (house_systems.hpp). Needs no ephemeris.
#pragma once

#include <array>
#include <cstdint>
#include <expected>

#include "core/errors.hpp"
#include "core/house_systems.hpp"
#include "core/name_table.hpp"
#include "core/types.hpp"

namespace tarvex::core {

enum class HouseSystem : std::uint8_t { Placidus = 0, Campanus = 1, Equal = 2, WholeSign = 3 };

inline constexpr NameForm<HouseSystem> HOUSE_SYSTEM_NAMES[] = {
    {"placidus", HouseSystem::Placidus},    {"campanus", HouseSystem::Campanus},
    {"equal", HouseSystem::Equal},          {"whole_sign", HouseSystem::WholeSign},
    {"whole-sign", HouseSystem::WholeSign}, {"wholesign", HouseSystem::WholeSign},
};

// The row of the table a system is.
constexpr HouseMethod house_method_of(HouseSystem system) noexcept {
  switch (system) {
    case HouseSystem::Campanus: return HouseMethod::Campanus;
    case HouseSystem::Equal: return HouseMethod::EqualAscendant;
    case HouseSystem::WholeSign: return HouseMethod::WholeSign;
    case HouseSystem::Placidus: break;
  }
  return HouseMethod::Placidus;
}

struct HouseCusps {
  std::array<double, 12> cusp_ecliptic_longitude_deg{};
  double ascendant_deg = 0.0;
  double midheaven_deg = 0.0;
  double ramc_deg = 0.0;
  double local_sidereal_time_deg = 0.0;
  double true_obliquity_deg = 0.0;
  HouseSystem system = HouseSystem::Placidus;
};

std::expected<HouseCusps, CoordinateError> house_cusps(const GeodeticObserver& observer, double ut1,
                                                       double tt, HouseSystem system);

// The cusp geometry alone, from RAMC, true obliquity and geodetic latitude
// (radians, finite; no validation): what house_cusps computes once it has
// the sidereal time and the obliquity. Fills every field of the result.
std::expected<HouseCusps, CoordinateError> house_cusps_from_ramc(double ramc_rad,
                                                                 double true_obliquity_rad,
                                                                 double latitude_rad,
                                                                 HouseSystem system);

}  // namespace tarvex::core
