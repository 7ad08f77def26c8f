// Lunar points of astrology: the mean and the osculating ("true") ascending
// node of the Moon's orbit, and the mean and osculating apogee ("Black Moon
// Lilith"). The mean points are polynomials in time; the osculating points
// come from one geocentric Moon state vector, which the caller takes from
// a kernel.
//
// Frame of every result and of the state input: the mean ecliptic and
// equinox of date (rotate a J2000 kernel state with OfDateRotation, no
// nutation). Add the nutation in longitude for the true equinox.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <string_view>

namespace tarvex::core {

struct EclipticPoint {
  double longitude_deg = 0.0;  // [0, 360)
  double latitude_deg = 0.0;
};

// Mean ascending node, longitude in [0, 360) at a TT Julian date.
double mean_lunar_node_deg(double tt_julian_day);

// Mean perigee as a broken angle (node longitude on the ecliptic plus the
// argument of perigee along the mean orbit), [0, 360).
double mean_lunar_perigee_deg(double tt_julian_day);

// The mean apogee as a point of the mean orbit (inclined to the ecliptic):
// ecliptic longitude and latitude.
EclipticPoint mean_lunar_apogee(double tt_julian_day);

// Geocentric state of the Moon: position (au) and velocity (au/day),
// mean ecliptic and equinox of date.
struct LunarState {
  std::array<double, 3> position_au{};
  std::array<double, 3> velocity_au_per_day{};
};

struct OsculatingLunarPoints {
  double ascending_node_deg = 0.0;  // [0, 360)
  EclipticPoint apogee;             // the apocentre of the osculating ellipse
  double inclination_deg = 0.0;
  double eccentricity = 0.0;
};

enum class LunarPointError : std::uint8_t {
  NonFiniteState = 0,
  NoOrbitPlane = 1,  // position and velocity parallel (or zero): no orbital plane
  InEcliptic = 2,    // the orbit lies in the ecliptic: no node
  Unbound = 3,       // eccentricity >= 1: no apogee
};

std::string_view message(LunarPointError error) noexcept;

// Two-body osculating elements of the Moon about the Earth (gravitational
// parameter of the Earth plus the Moon) from its geocentric state.
std::expected<OsculatingLunarPoints, LunarPointError> osculating_lunar_points(
    const LunarState& state);

}  // namespace tarvex::core
