// House cusps of eighteen house systems from the sidereal geometry alone:
// RAMC, geographic latitude and obliquity of the ecliptic, all in degrees.
// Pure functions; the caller supplies the sidereal time and the obliquity
// (for example through houses.hpp, whose four systems are rows of this table).
//
// Every system returns twelve cusps as ecliptic longitudes of date in
// [0, 360), cusp 1 first, together with the ascendant, the midheaven, the
// vertex and the equatorial ascendant (east point). A system that has no
// cusps for the given sky says so with a HouseError naming the system and
// the reason; no cusp is ever a NaN or a substitute from another system.
//
// The ascendant is the eastern (rising) meeting of ecliptic and horizon at
// every latitude. The midheaven is the culminating point of the ecliptic
// (on the upper meridian); inside the polar circles it can lie below the
// horizon, and Regiomontanus, Campanus, Topocentric and APC, whose house
// circles pass through the north and south points, then have cusp 10 at
// the opposite point, above the horizon.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvex::core {

enum class HouseMethod : std::uint8_t {
  Placidus = 0,
  Koch = 1,
  Porphyry = 2,
  Regiomontanus = 3,
  Campanus = 4,
  EqualAscendant = 5,
  EqualMidheaven = 6,
  WholeSign = 7,
  Alcabitius = 8,
  Morinus = 9,
  Meridian = 10,
  Topocentric = 11,
  Vehlow = 12,
  Sripati = 13,
  KrusinskiPisa = 14,
  Horizontal = 15,
  Carter = 16,
  Apc = 17,
};

inline constexpr std::size_t HOUSE_METHOD_COUNT = 18;

// One row per system: the enum, its name for users and bindings
// (lower_snake_case), and the one-letter key astrology programs commonly
// use for it.
struct HouseMethodName {
  HouseMethod method;
  std::string_view name;
  char letter;
  bool iterative;  // solved by iteration rather than in closed form
};

// All rows, in enum order.
std::span<const HouseMethodName> house_method_names() noexcept;
std::string_view name(HouseMethod method) noexcept;
char letter(HouseMethod method) noexcept;
std::optional<HouseMethod> house_method_from_name(std::string_view name) noexcept;
std::optional<HouseMethod> house_method_from_letter(char letter) noexcept;

enum class HouseErrorReason : std::uint8_t {
  NonFiniteInput = 0,         // RAMC, latitude or obliquity is NaN or infinite
  LatitudeOutOfRange = 1,     // |latitude| >= 90: the horizon has no north point
  ObliquityOutOfRange = 2,    // obliquity outside (0, 90)
  InsidePolarCircle = 3,      // |latitude| >= 90 - obliquity: some ecliptic degrees never rise
  EclipticOnHorizon = 4,      // the ecliptic coincides with the horizon: no ascendant
  NoConvergence = 5,          // an iterated cusp did not settle within its pass limit
  HouseCircleOnEcliptic = 6,  // a house circle coincides with the ecliptic: no single cusp
};

struct HouseError {
  HouseMethod method = HouseMethod::Placidus;
  HouseErrorReason reason = HouseErrorReason::NonFiniteInput;

  // Fixed English text naming the system and the reason.
  std::string message() const;
  bool operator==(const HouseError&) const = default;
};

struct HouseCuspSet {
  std::array<double, 12> cusp_deg{};  // cusp 1 .. 12, ecliptic longitude of date
  double ascendant_deg = 0.0;
  double midheaven_deg = 0.0;
  double vertex_deg = 0.0;                // western intersection of prime vertical and ecliptic
  double equatorial_ascendant_deg = 0.0;  // ecliptic degree rising at the equator (east point)
  HouseMethod method = HouseMethod::Placidus;
};

// How the Placidus cusps are solved: the strict module's fixed-point
// iteration on each cusp's declination (stops when a pass moves it by less
// than 1e-12 rad: up to ~1e-12 deg from the exact cusp at middle latitudes,
// more as the latitude nears the polar circle, where each pass contracts
// the error less), or a safeguarded Newton iteration on each cusp's
// semi-arc (to the last bits of the exact cusp, in 3 to 6 steps). Both in
// house_systems.cpp, where the two are described.
enum class PlacidusSolver : std::uint8_t { FixedPoint = 0, Newton = 1 };

// Cusps of one system. ramc_deg: right ascension of the meridian (any
// value); latitude_deg: geographic (geodetic) latitude, north positive,
// |latitude| < 90; obliquity_deg: obliquity of the ecliptic, 0 < eps < 90
// (true obliquity for cusps of the true equinox). The kit's entry: Placidus
// by Newton unless asked otherwise.
std::expected<HouseCuspSet, HouseError> house_cusps_deg(
    HouseMethod method, double ramc_deg, double latitude_deg, double obliquity_deg,
    PlacidusSolver solver = PlacidusSolver::Newton);

// house_cusps_deg for a sky given in radians (RAMC in [0, 2 pi)), with the
// same checks and results: a site's sidereal time and obliquity computed in
// radians reach the cusps without a trip through degrees.
std::expected<HouseCuspSet, HouseError> house_cusps_of_sky(
    HouseMethod method, double ramc_rad, double latitude_rad, double obliquity_rad,
    PlacidusSolver solver = PlacidusSolver::Newton);

// The geometry alone, in radians: RAMC in [0, 2 pi), latitude and obliquity
// already checked by the caller; the cusps, ascendant and midheaven (the
// vertex and east point are left zero). house_cusps_of_sky adds to it the
// checks, the refusal of Placidus inside the polar circles, the vertex and
// east point and the equal systems' stepping in degrees; the strict
// module's house_cusps (houses.hpp) takes its four systems from here as
// they are, Placidus by the fixed point.
std::expected<HouseCuspSet, HouseError> house_cusps_rad(
    HouseMethod method, double ramc_rad, double latitude_rad, double obliquity_rad,
    PlacidusSolver solver = PlacidusSolver::FixedPoint);

}  // namespace tarvex::core
