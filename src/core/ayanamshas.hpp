// Ayanamshas: the longitude of the tropical equinox of date in a sidereal
// zodiac, for the conventions astrology programs offer. Each convention is
// one row of a table (ayanamsha_definitions): either a value at an epoch
// carried forward by the IAU 2006 general precession in longitude, or a
// catalogue star placed at a fixed sidereal longitude.
//
// The time argument is a TT Julian date throughout. Values are mean
// ayanamshas (no nutation in longitude), in degrees, not reduced to a range.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "core/errors.hpp"

namespace tarvex::core {

enum class Ayanamsha : std::uint8_t {
  Lahiri = 0,
  FaganBradley = 1,
  DeLuce = 2,
  Raman = 3,
  Krishnamurti = 4,
  DjwhalKhul = 5,
  Sassanian = 6,
  Suryasiddhanta = 7,
  J2000 = 8,
  J1900 = 9,
  B1950 = 10,
  TrueChitra = 11,
  Aldebaran15Tau = 12,
  GalacticCentre0Sag = 13,
  LahiriIcrc = 14,
  BabylonianHuber = 15,
  BabylonianKugler1 = 16,
  BabylonianKugler2 = 17,
  BabylonianKugler3 = 18,
  BabylonianEtaPiscium = 19,
  Hipparchos = 20,
  Ushashashi = 21,
};

inline constexpr std::size_t AYANAMSHA_COUNT = 22;

enum class AyanamshaKind : std::uint8_t {
  // value(t) = value_at_epoch + p_A(t) - p_A(epoch)
  PrecessionFromEpoch = 0,
  // value(t) = lambda_star(t) - star_sidereal_longitude, lambda_star the
  // star's longitude on the mean ecliptic and equinox of date.
  StarAtLongitude = 1,
};

// A catalogue star: ICRS position at J2000.0 and proper motion.
struct CatalogueStar {
  std::string_view name;
  double right_ascension_deg;
  double declination_deg;
  double proper_motion_ra_cos_dec_mas_per_year;
  double proper_motion_dec_mas_per_year;
};

struct AyanamshaDefinition {
  Ayanamsha mode;
  std::string_view name;  // lower_snake_case, for users and bindings
  AyanamshaKind kind;
  double epoch_tt_julian_day;  // PrecessionFromEpoch: the anchor epoch
  double value_at_epoch_deg;   // PrecessionFromEpoch: the ayanamsha there
  // PrecessionFromEpoch: the value refers to the true equinox of the epoch;
  // the mean ayanamsha there is the value less the nutation in longitude.
  bool value_includes_nutation;
  const CatalogueStar* star;           // StarAtLongitude: the reference star
  double star_sidereal_longitude_deg;  // StarAtLongitude: where the star is put
};

// All rows, in enum order.
std::span<const AyanamshaDefinition> ayanamsha_definitions() noexcept;
std::string_view name(Ayanamsha mode) noexcept;
std::optional<Ayanamsha> ayanamsha_from_name(std::string_view name) noexcept;

// The ayanamsha at a TT Julian date, degrees. The strict module's two
// sidereal modes are the rows Lahiri and FaganBradley (sidereal.hpp).
std::expected<double, CoordinateError> ayanamsha_deg(Ayanamsha mode, double tt_julian_day);

// The rate of every PrecessionFromEpoch row, d p_A / dt, degrees per day.
std::expected<double, CoordinateError> ayanamsha_rate_deg_per_day(double tt_julian_day);

// The ayanamsha of a definition that is not in the table (a user's own
// epoch and value, or star and longitude), evaluated like the table's rows.
// A non-finite number, or a star row without a star, is NonFiniteState.
std::expected<double, CoordinateError> ayanamsha_deg(const AyanamshaDefinition& definition,
                                                     double tt_julian_day);

// Sidereal longitude in [0, 360) of a tropical (mean equinox of date)
// ecliptic longitude at a TT Julian date.
std::expected<double, CoordinateError> sidereal_longitude_deg(Ayanamsha mode,
                                                              double tropical_longitude_deg,
                                                              double tt_julian_day);

}  // namespace tarvex::core
