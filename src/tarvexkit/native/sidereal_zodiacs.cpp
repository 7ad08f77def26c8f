// The kit's sidereal zodiacs (see the header for the rules).
//
// The anchored values are pyswisseph 2.10.03's mean ayanamshas at J2000.0
// TT (swe.get_ayanamsa_ex(2451545.0, FLG_NONUT) with each SIDM_ mode);
// tests/python/test_kit_astrology.py checks them against it over
// 1900-2100. Sgr A*: ICRS 17h45m40.03599s -29d00'28.1699" (SIMBAD), proper
// motion -3.151, -5.547 mas/yr (M. J. Reid and A. Brunthaler, ApJ 616,
// 872, 2004).
#include "tarvexkit/native/sidereal_zodiacs.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/angles.hpp"
#include "core/frames.hpp"
#include "core/types.hpp"

namespace tarvex::kit {
namespace {

using core::Ayanamsha;

constexpr double J2000_TT = 2451545.0;
constexpr double DAYS_PER_JULIAN_YEAR = 365.25;
constexpr double MAS_PER_DEG = 3.6e6;
// The constant of aberration, 20.49552", in degrees (Meeus, ch. 23).
constexpr double ABERRATION_DEG = 20.49552 / 3600.0;
// 2 G M_sun / c^2 in au.
constexpr double SUN_SCHWARZSCHILD_RADIUS_AU = 1.97412574336e-8;

constexpr core::CatalogueStar SAGITTARIUS_A_STAR = {
    "Sgr A*", (17.0 + 45.0 / 60.0 + 40.03599 / 3600.0) * 15.0, -(29.0 + 28.1699 / 3600.0),
    -3.151, -5.547};

const core::CatalogueStar* spica() {
  return core::ayanamsha_definitions()[static_cast<std::size_t>(Ayanamsha::TrueChitra)].star;
}

constexpr SiderealZodiac anchored(std::string_view name, double value_deg) {
  return {name, ZodiacRule::Anchored, Ayanamsha::J2000, value_deg, nullptr, 0.0};
}
constexpr SiderealZodiac strict(std::string_view name, Ayanamsha row) {
  return {name, ZodiacRule::Strict, row, 0.0, nullptr, 0.0};
}

const std::array<SiderealZodiac, 24> ZODIACS = {{
    anchored("lahiri", 23.8570923254552),
    anchored("fagan_bradley", 24.740299966181283),
    anchored("de_luce", 27.81575280748109),
    anchored("raman", 22.41079101207282),
    anchored("krishnamurti", 23.780364956663277),
    anchored("djwhal_khul", 28.359678599554513),
    anchored("sassanian", 19.992959400184247),
    anchored("suryasiddhanta", 20.89505885455503),
    anchored("j2000", 0.0),
    anchored("j1900", 1.3965809995544873),
    anchored("b1950", 0.698370129142063),
    {"true_chitra", ZodiacRule::Star, Ayanamsha::TrueChitra, 0.0, spica(), 180.0},
    // pyswisseph anchors this one (at the Babylonian epoch) rather than
    // following the star.
    anchored("aldebaran_15_tau", 24.758923920469897),
    {"galactic_centre_0_sag", ZodiacRule::Star, Ayanamsha::GalacticCentre0Sag, 0.0,
     &SAGITTARIUS_A_STAR, 240.0},
    anchored("lahiri_icrc", 23.85678898803218),
    anchored("babylonian_huber", 24.733639900469882),
    anchored("babylonian_kugler1", 23.533639900469893),
    anchored("babylonian_kugler2", 24.933639900469927),
    anchored("babylonian_kugler3", 25.783639900469893),
    anchored("babylonian_eta_piscium", 24.522527972895773),
    anchored("hipparchos", 20.24778813186066),
    anchored("ushashashi", 20.057540999554476),
    strict("strict_lahiri", Ayanamsha::Lahiri),
    strict("strict_fagan_bradley", Ayanamsha::FaganBradley),
}};

// The Sun, geocentric, on the mean ecliptic and equinox of date (Meeus
// ch. 25, to about 0.01 deg): true longitude (radians), distance (au),
// the Earth's orbital eccentricity and longitude of perihelion (radians).
struct LowPrecisionSun {
  double longitude;
  double distance_au;
  double eccentricity;
  double perihelion;
};

LowPrecisionSun low_precision_sun(double tt) {
  const double t = core::julian_centuries_since_j2000(tt);
  const double l0 = 280.46646 + t * (36000.76983 + t * 0.0003032);
  const double m = (357.52911 + t * (35999.05029 - t * 0.0001537)) * core::DEG_TO_RAD;
  const double c = (1.914602 - t * (0.004817 + t * 0.000014)) * std::sin(m) +
                   (0.019993 - t * 0.000101) * std::sin(2.0 * m) + 0.000289 * std::sin(3.0 * m);
  const double e = 0.016708634 - t * (0.000042037 + t * 0.0000001267);
  const double anomaly = m + c * core::DEG_TO_RAD;
  return {(l0 + c) * core::DEG_TO_RAD, 1.000001018 * (1.0 - e * e) / (1.0 + e * std::cos(anomaly)),
          e, (102.93735 + t * (1.71946 + t * 0.00046)) * core::DEG_TO_RAD};
}

// The star's apparent longitude on the mean ecliptic and equinox of date,
// degrees: the catalogue place moved linearly by its proper motion,
// rotated to the ecliptic of date, deflected by the Sun (p + g/(1 + p.e)
// (e - (p.e) p), g the Sun's Schwarzschild radius over its distance, e the
// unit vector from the Sun to the Earth; IERS Conventions 2010, ch. 7) and
// displaced by annual aberration (Meeus eq. 23.2).
std::expected<double, core::CoordinateError> apparent_star_longitude_deg(
    const core::CatalogueStar& star, double tt) {
  const double years = (tt - J2000_TT) / DAYS_PER_JULIAN_YEAR;
  const double dec0 = star.declination_deg * core::DEG_TO_RAD;
  const double dec =
      dec0 + star.proper_motion_dec_mas_per_year * years / MAS_PER_DEG * core::DEG_TO_RAD;
  const double ra = star.right_ascension_deg * core::DEG_TO_RAD +
                    star.proper_motion_ra_cos_dec_mas_per_year * years /
                        (MAS_PER_DEG * std::cos(dec0)) * core::DEG_TO_RAD;
  core::CartesianState s;
  s.position = {std::cos(dec) * std::cos(ra), std::cos(dec) * std::sin(ra), std::sin(dec)};
  const auto ecl = core::OfDateRotation::create(false, false, tt).apply(s);
  if (!ecl) return std::unexpected(ecl.error());
  std::array<double, 3> p = ecl->position;
  const LowPrecisionSun sun = low_precision_sun(tt);
  const std::array<double, 3> e = {-std::cos(sun.longitude), -std::sin(sun.longitude), 0.0};
  const double pe = p[0] * e[0] + p[1] * e[1] + p[2] * e[2];
  const double g = SUN_SCHWARZSCHILD_RADIUS_AU / sun.distance_au / std::max(1.0 + pe, 1e-9);
  for (std::size_t k = 0; k < 3; ++k) p[k] += g * (e[k] - pe * p[k]);
  const double lambda = std::atan2(p[1], p[0]);
  const double beta = std::atan2(p[2], std::hypot(p[0], p[1]));
  const double aberration =
      ABERRATION_DEG *
      (-std::cos(sun.longitude - lambda) + sun.eccentricity * std::cos(sun.perihelion - lambda)) /
      std::cos(beta);
  return lambda * core::RAD_TO_DEG + aberration;
}

}  // namespace

std::span<const SiderealZodiac> sidereal_zodiacs() noexcept { return ZODIACS; }

std::optional<std::size_t> sidereal_zodiac_index(std::string_view name) noexcept {
  for (std::size_t i = 0; i < ZODIACS.size(); ++i)
    if (ZODIACS[i].name == name) return i;
  return std::nullopt;
}

std::expected<AyanamshaValue, core::CoordinateError> ayanamsha_value(const SiderealZodiac& zodiac,
                                                                     double tt) {
  if (!std::isfinite(tt)) return std::unexpected(core::CoordinateError::NonFiniteState);
  if (zodiac.rule == ZodiacRule::Strict) {
    const auto mean = core::ayanamsha_deg(zodiac.row, tt);
    if (!mean) return std::unexpected(mean.error());
    return AyanamshaValue{*mean, *mean};
  }
  double mean = 0.0;
  if (zodiac.rule == ZodiacRule::Anchored) {
    // The J2000 row is p_A(t) - p_A(J2000).
    const auto precession = core::ayanamsha_deg(Ayanamsha::J2000, tt);
    if (!precession) return std::unexpected(precession.error());
    mean = zodiac.value_at_j2000_deg + *precession;
  } else {
    const auto lambda = apparent_star_longitude_deg(*zodiac.star, tt);
    if (!lambda) return std::unexpected(lambda.error());
    mean = std::remainder(*lambda - zodiac.star_sidereal_longitude_deg, 360.0);
  }
  return AyanamshaValue{mean, mean + core::nutation_iau2000b(tt).first * core::RAD_TO_DEG};
}

}  // namespace tarvex::kit
