// The geometry of eclipses and occultations, one instant at a time, from
// apparent places (right ascension, declination in degrees, distance in
// au; equator and equinox of date, geocentric or topocentric).
//
// Solar eclipses, and the Moon occulting a planet (the same geometry with
// the planet for the Sun): the shadow axis and cones of the Besselian
// elements, Explanatory Supplement to the Astronomical Almanac (ed. P. K.
// Seidelmann, 1992), section 8.3, and J. Meeus, "Elements of Solar
// Eclipses 1951-2200" (1989), pp. 4-12. The axis is the line through the
// centres of the Moon and of the source; the fundamental plane passes
// through the Earth's centre perpendicular to it. With G the Moon-source
// distance, z the Moon's height above the plane and k the Moon's radius
// (Earth equatorial radii):
//     sin f1 = (R + k) / G            sin f2 = (R - k) / G
//     l1 = z tan f1 + k / cos f1      l2 = z tan f2 - k / cos f2
// the radii of the penumbra and the umbra in the plane (l2 < 0: the umbra's
// vertex lies beyond the plane, a total eclipse there; l2 > 0: annular).
// At a height zeta above the plane the radii are l - zeta tan f. gamma is
// the axis's distance from the Earth's centre, positive north of it.
//
// The Earth is the GRS80 ellipsoid of the kit's sites (core/observer.hpp).
// Whether and where the axis meets it is decided in coordinates whose polar
// axis is stretched by 1 / (1 - f): the ellipsoid becomes the unit sphere
// and lines stay lines (the Supplement's rho1 scaling, 8.334, on vectors).
//
// Lunar eclipses: the Earth's shadow seen from the Earth's centre, with
// Danjon's enlargement of the Earth's radius by 1/85 (A. Danjon, 1951; the
// Explanatory Supplement, 3rd ed. 2013, section 11.3.2) and the Earth's
// radius at latitude 45 degrees, 0.998340 a:
//     umbra = (1 + 1/85) 0.998340 pi_moon + pi_sun - s_sun
//     penumbra = (1 + 1/85) 0.998340 pi_moon + pi_sun + s_sun
// pi the horizontal parallaxes, s_sun the Sun's semi-diameter.
//
// Radii: the Sun's 959.63" at 1 au (Auwers, as in the Supplement). The
// Moon's radius in Earth equatorial radii takes two values, after the
// conventions of NASA's canon (F. Espenak and J. Meeus, "Five Millennium
// Canon of Solar Eclipses: -1999 to +3000", NASA/TP-2006-214141, section
// 1.3 and the Besselian elements of its tables): k = 0.2725076 (IAU 1982,
// the Moon's mean radius) for the penumbra and the outer contacts, and
// k = 0.272281 for the umbra, the inner contacts and the central durations,
// a smaller value that stands for the mean of the valleys of the Moon's
// profile, where the last beads of sunlight go out, rather than its mean
// radius. With the one mean radius for both cones the central magnitudes
// come out 0.0008 high, the total phases 3 to 6 s long, and eclipses such
// as 1927-01-03 and 1948-05-09 (annular in the canon and to observers)
// total along part of their central line. The umbra's k is a parameter of
// shadow() and discs(): MOON_K_PENUMBRA gives the one-radius model.
//
// Discs seen from a site: the separation of the centres, the semi-diameters
// (the Moon's with both values of k) and the fraction of the farther
// disc's area covered (the lens where two circles overlap; the Moon's mean
// radius).
//
// Pure functions; no Python, no files.
#pragma once

#include <array>

namespace tarvex::kit::eclipse {

inline constexpr double MOON_K_PENUMBRA = 0.2725076;
inline constexpr double MOON_K_UMBRA = 0.272281;
inline constexpr double SUN_SEMIDIAMETER_AT_1_AU_ARCSEC = 959.63;
inline constexpr double DANJON_ENLARGEMENT = 1.0 + 1.0 / 85.0;
inline constexpr double MEAN_LATITUDE_RADIUS = 0.998340;

// Earth's equatorial radius and flattening (GRS80), and the radii in km:
// the Moon's k R for the penumbra (its mean radius) and for the umbra.
double earth_radius_km() noexcept;
double earth_flattening() noexcept;
double moon_radius_km() noexcept;
double moon_umbral_radius_km() noexcept;
double sun_radius_km() noexcept;

struct Place {
  double right_ascension_deg = 0.0;
  double declination_deg = 0.0;
  double distance_au = 0.0;
};

using Vector = std::array<double, 3>;

struct Shadow {
  double gamma = 0.0;   // signed distance of the axis from the Earth's centre
  double miss = 0.0;    // the same in the stretched coordinates (< 1: the axis meets the Earth)
  double l1 = 0.0;      // penumbral radius in the fundamental plane
  double l2 = 0.0;      // umbral radius there (negative: total), with the umbra's k
  double tan_f1 = 0.0;
  double tan_f2 = 0.0;
  Vector point{};       // where the axis meets the Earth, or the surface point nearest it
  double zeta = 0.0;    // the point's height above the fundamental plane
  double off_axis = 0.0;  // the point's distance from the axis (0 on the central line)
  double latitude_deg = 0.0;  // the point's geodetic latitude
};

// Lengths in Earth equatorial radii; the point geocentric, equator of date.
// umbra_k: the Moon's radius (Earth radii) for the umbra's cone.
Shadow shadow(const Place& source, const Place& moon, double source_radius_km,
              double umbra_k = MOON_K_UMBRA) noexcept;

struct LunarShadow {
  double distance_rad = 0.0;     // the Moon's centre from the shadow's axis
  double moon_radius_rad = 0.0;
  double umbra_rad = 0.0;
  double penumbra_rad = 0.0;
  double gamma = 0.0;            // that distance in Earth radii at the Moon, positive north
};

LunarShadow lunar_shadow(const Place& sun, const Place& moon) noexcept;

struct Discs {
  double separation_rad = 0.0;
  double moon_radius_rad = 0.0;        // with the Moon's mean radius (penumbra, outer contacts)
  double body_radius_rad = 0.0;
  double covered_fraction = 0.0;       // of the body's disc's area
  double moon_inner_radius_rad = 0.0;  // with the umbra's k (inner contacts)
};

Discs discs(const Place& body, const Place& moon, double body_radius_km,
            double umbra_k = MOON_K_UMBRA) noexcept;

// The fraction of the area of a disc of radius r covered by one of radius
// big whose centre lies delta away.
double covered_fraction(double delta, double big, double r) noexcept;

}  // namespace tarvex::kit::eclipse
