// House cusps: Placidus (trisection of the diurnal and nocturnal semi-arcs,
// by iteration on the cusp's declination), Campanus (trisection of the prime
// vertical), Equal (30 degrees from the ascendant) and Whole Sign (the signs
// themselves, starting with the ascendant's). The sidereal time is the
// system's one local apparent sidereal time (observer.cpp); the obliquity is
// the IAU 2006 mean obliquity plus IAU 2000B nutation.
#include "core/houses.hpp"

#include <cmath>
#include <optional>

#include "core/angles.hpp"
#include "core/frames.hpp"
#include "core/observer.hpp"

namespace tarvex::core {
namespace {

constexpr double HOUSE_STEP_RAD = 0.5235987755982988;  // 30 degrees
constexpr double PLACIDUS_TOLERANCE_RAD = 1e-12;
constexpr int PLACIDUS_MAX_PASSES = 100;
constexpr double DEGENERACY_GUARD = 1e-18;

// Sines and cosines of the three angles every cusp needs.
struct Sphere {
  double sin_ramc, cos_ramc, sin_eps, cos_eps, sin_phi, cos_phi, ramc;
};

// Ecliptic longitude of the point where the great circle through the north
// and south points of the horizon at house angle H (given by c = cos H,
// s = sin H, measured on the prime vertical) meets the ecliptic. H = 0 is the
// ascendant.
double cusp_longitude(const Sphere& g, double c, double s) {
  return std::atan2(c * g.cos_phi * g.cos_ramc - s * g.sin_ramc,
                    -(s * g.cos_eps * g.cos_ramc +
                      c * (g.cos_phi * g.sin_ramc * g.cos_eps + g.sin_phi * g.sin_eps)));
}

enum class PlacidusCusp { Eleven, Twelve, Two, Three };

// Right ascension of a Placidus cusp from the diurnal semi-arc D of its own
// declination: cusps 11 and 12 lie one and two thirds of D east of the
// meridian, cusps 2 and 3 two and one thirds of the nocturnal semi-arc
// (pi - D) short of the lower meridian.
double placidus_right_ascension(PlacidusCusp cusp, double d, double ramc) {
  switch (cusp) {
    case PlacidusCusp::Eleven: return d / 3.0 + ramc;
    case PlacidusCusp::Twelve: return (d + d) / 3.0 + ramc;
    case PlacidusCusp::Two: return (PI_RAD - d) * 2.0 / (-3.0) + (PI_RAD + ramc);
    case PlacidusCusp::Three: break;
  }
  return (PI_RAD - d) / (-3.0) + (PI_RAD + ramc);
}

// The cusp's declination depends on its longitude and the longitude on the
// declination's semi-arc; iterate from the equator. A cusp is undefined
// when its ecliptic point never rises or sets, or when the iteration does
// not settle.
//
// The four cusps iterate independently, so one pass steps all unsettled
// cusps in turn: each cusp sees exactly its own sequence of operations, and
// the processor overlaps the four chains of library calls, which would
// otherwise each wait on the one before. A settled cusp keeps its value.
struct PlacidusIteration {
  PlacidusCusp cusp;
  double delta = 0.0;
  double longitude = 0.0;
  bool settled = false;
};

// One pass for one cusp; false when the cusp turns out undefined.
bool placidus_step(const Sphere& g, PlacidusIteration& it) {
  const double gg = std::cos(it.delta) * g.cos_phi;
  if (std::fabs(gg) < DEGENERACY_GUARD) return false;
  const double x = std::sin(it.delta) * (-g.sin_phi) / gg;
  if (!(std::fabs(x) <= 1.0)) return false;  // also catches NaN
  const double d = std::acos(x);
  const double alpha = placidus_right_ascension(it.cusp, d, g.ramc);
  const double lambda = std::atan2(std::sin(alpha), std::cos(alpha) * g.cos_eps);
  const double delta_next = std::asin(std::sin(lambda) * g.sin_eps);
  if (std::fabs(delta_next - it.delta) < PLACIDUS_TOLERANCE_RAD) {
    it.longitude = normalize_radians(lambda);
    it.settled = true;
  }
  it.delta = delta_next;
  return true;
}

// Cusps 11, 12, 2 and 3 in that order, or empty if any is undefined.
std::optional<std::array<double, 4>> placidus_cusps(const Sphere& g) {
  std::array<PlacidusIteration, 4> cusps{{{PlacidusCusp::Eleven},
                                          {PlacidusCusp::Twelve},
                                          {PlacidusCusp::Two},
                                          {PlacidusCusp::Three}}};
  for (int pass = 0; pass < PLACIDUS_MAX_PASSES; ++pass) {
    bool all_settled = true;
    for (PlacidusIteration& it : cusps) {
      if (it.settled) continue;
      if (!placidus_step(g, it)) return std::nullopt;
      all_settled = all_settled && it.settled;
    }
    if (all_settled) {
      return std::array<double, 4>{cusps[0].longitude, cusps[1].longitude, cusps[2].longitude,
                                   cusps[3].longitude};
    }
  }
  return std::nullopt;
}

}  // namespace

std::expected<HouseCusps, CoordinateError> house_cusps_from_ramc(double ramc_rad,
                                                                 double true_obliquity_rad,
                                                                 double latitude_rad,
                                                                 HouseSystem system) {
  const Sphere g{std::sin(ramc_rad),
                 std::cos(ramc_rad),
                 std::sin(true_obliquity_rad),
                 std::cos(true_obliquity_rad),
                 std::sin(latitude_rad),
                 std::cos(latitude_rad),
                 ramc_rad};
  const double mc = std::atan2(g.sin_ramc, g.cos_eps * g.cos_ramc);
  double asc = cusp_longitude(g, 1.0, 0.0);
  // Inside the polar circles, where the midheaven can lie below the horizon,
  // the formula gives the western (setting) meeting of ecliptic and
  // horizon; the ascendant is the eastern one: its component along the east
  // point of the horizon, (-sin RAMC, cos RAMC, 0), is positive. The
  // Campanus cusps of the same formula are then all on the far side too.
  const bool turned =
      std::cos(asc) * -g.sin_ramc + std::sin(asc) * g.cos_eps * g.cos_ramc < 0.0;
  if (turned) asc = normalize_radians(asc + PI_RAD);

  std::array<double, 12> cusp{};  // radians, any range; reduced to [0, 360) degrees below
  switch (system) {
    case HouseSystem::Equal:
      for (int n = 0; n < 12; ++n) cusp[n] = normalize_radians(asc + n * HOUSE_STEP_RAD);
      break;
    case HouseSystem::WholeSign: {
      const double asc_deg = normalize_degrees(asc * RAD_TO_DEG);
      const double sign_start_deg = std::floor(asc_deg / 30.0) * 30.0;
      for (int n = 0; n < 12; ++n)
        cusp[n] = normalize_degrees(sign_start_deg + 30.0 * n) * DEG_TO_RAD;
      break;
    }
    case HouseSystem::Campanus:
      cusp[0] = asc;
      for (int n = 1; n < 12; ++n) {
        const double h = n * HOUSE_STEP_RAD;
        cusp[n] = cusp_longitude(g, std::cos(h), std::sin(h));
        if (turned) cusp[n] = normalize_radians(cusp[n] + PI_RAD);
      }
      break;
    case HouseSystem::Placidus: {
      const auto placidus = placidus_cusps(g);
      if (!placidus) return std::unexpected(CoordinateError::HouseCuspsUndefined);
      const auto [c11, c12, c2, c3] = *placidus;
      cusp = {asc,
              c2,
              c3,
              normalize_radians(mc + PI_RAD),
              normalize_radians(c11 + PI_RAD),
              normalize_radians(c12 + PI_RAD),
              normalize_radians(asc + PI_RAD),
              normalize_radians(c2 + PI_RAD),
              normalize_radians(c3 + PI_RAD),
              mc,
              c11,
              c12};
      break;
    }
  }

  HouseCusps out;
  for (int n = 0; n < 12; ++n)
    out.cusp_ecliptic_longitude_deg[n] = normalize_degrees(cusp[n] * RAD_TO_DEG);
  out.ascendant_deg = normalize_degrees(asc * RAD_TO_DEG);
  out.midheaven_deg = normalize_degrees(mc * RAD_TO_DEG);
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
