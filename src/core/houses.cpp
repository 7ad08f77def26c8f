// House cusps of a site at an instant: the sidereal time is the system's
// one local apparent sidereal time (observer.cpp), the obliquity the IAU
// 2006 mean obliquity plus IAU 2000B nutation, and the cusps those of the
// table of house systems (house_systems.cpp: Placidus by iteration on the
// cusp's declination, Campanus by trisection of the prime vertical, Equal
// from the ascendant, Whole Sign from the ascendant's sign), taken in
// radians as they are. A Placidus cusp whose iteration fails (its degree
// never rises or sets) makes the set undefined.
#include "core/houses.hpp"

#include <cmath>

#include "core/angles.hpp"
#include "core/frames.hpp"
#include "core/observer.hpp"

namespace tarvex::core {

std::expected<HouseCusps, CoordinateError> house_cusps_from_ramc(double ramc_rad,
                                                                 double true_obliquity_rad,
                                                                 double latitude_rad,
                                                                 HouseSystem system) {
  const auto set =
      house_cusps_rad(house_method_of(system), ramc_rad, latitude_rad, true_obliquity_rad);
  if (!set) return std::unexpected(CoordinateError::HouseCuspsUndefined);
  HouseCusps out;
  out.cusp_ecliptic_longitude_deg = set->cusp_deg;
  out.ascendant_deg = set->ascendant_deg;
  out.midheaven_deg = set->midheaven_deg;
  out.ramc_deg = normalize_degrees(ramc_rad * RAD_TO_DEG);
  out.local_sidereal_time_deg = out.ramc_deg;
  out.true_obliquity_deg = true_obliquity_rad * RAD_TO_DEG;
  out.system = system;
  return out;
}

std::expected<HouseCusps, CoordinateError> house_cusps(const GeodeticObserver& observer, double ut1,
                                                       double tt, HouseSystem system) {
  if (auto valid = validate(observer); !valid) return std::unexpected(valid.error());
  if (!std::isfinite(ut1) || !std::isfinite(tt))
    return std::unexpected(CoordinateError::NonFiniteState);

  const double phi = observer.latitude_deg * DEG_TO_RAD;
  const double lambda = observer.longitude_east_deg * DEG_TO_RAD;
  // One nutation series for both the sidereal time and the true obliquity;
  // the sidereal time is the same computation as
  // local_apparent_sidereal_time_iau2006, so the two agree bit for bit.
  const auto [dpsi, deps] = nutation_iau2000b(tt);
  const double ramc =
      normalize_radians(greenwich_apparent_sidereal_time_iau2006(ut1, tt, dpsi) + lambda);
  const double eps = mean_obliquity_iau2006(tt) + deps;
  return house_cusps_from_ramc(ramc, eps, phi, system);
}

}  // namespace tarvex::core
