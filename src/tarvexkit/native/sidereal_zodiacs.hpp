// The kit's sidereal zodiacs: what each ayanamsha name means in tarvexkit.
//
// A sidereal longitude is the tropical longitude of date less a shift. For
// the names pyswisseph also has, the kit does what its FLG_SIDEREAL does
// (found by running it): the shift is the mean ayanamsha plus the nutation
// in longitude, so that the sidereal place is the mean-equinox longitude
// less the mean ayanamsha (a sidereal zodiac is fixed to the stars, and
// the true equinox nods against them by up to 17"). The mean ayanamshas
// equal pyswisseph's get_ayanamsa_ex(..., FLG_NONUT):
//   - anchored names: the value pyswisseph 2.10.03 gives at J2000.0,
//     carried by the IAU 2006 general precession in longitude
//     (core/ayanamshas.hpp); over 1900-2100 within 0.045" of it;
//   - star names (true_chitra, galactic_centre_0_sag): the star's
//     catalogue place moved by its proper motion, deflected by the Sun and
//     displaced by annual aberration (Meeus, "Astronomical Algorithms",
//     2nd ed. 1998, eq. 23.2, the Sun of ch. 25), on the mean ecliptic of
//     date, less the longitude the convention gives it; within 0.1".
// The strict module's two definitions are here as strict_lahiri and
// strict_fagan_bradley: their mean ayanamsha taken off true-equinox
// longitudes, as tarvex.Engine.sidereal_position does.
#pragma once

#include <cstddef>
#include <expected>
#include <optional>
#include <span>
#include <string_view>

#include "core/ayanamshas.hpp"
#include "core/errors.hpp"

namespace tarvex::kit {

enum class ZodiacRule : unsigned char {
  Strict,    // the core row's mean ayanamsha off true-equinox longitudes
  Anchored,  // value at J2000 + general precession, plus nutation
  Star,      // apparent star at a fixed longitude, plus nutation
};

struct SiderealZodiac {
  std::string_view name;
  ZodiacRule rule;
  core::Ayanamsha row;                  // Strict: the core's row
  double value_at_j2000_deg;            // Anchored: the mean ayanamsha at J2000.0 TT
  const core::CatalogueStar* star;      // Star
  double star_sidereal_longitude_deg;   // Star
};

struct AyanamshaValue {
  double mean_deg;   // the mean ayanamsha
  double shift_deg;  // what comes off a true-equinox longitude
};

std::span<const SiderealZodiac> sidereal_zodiacs() noexcept;
std::optional<std::size_t> sidereal_zodiac_index(std::string_view name) noexcept;

// The zodiac's mean ayanamsha and shift at a TT Julian day, degrees.
std::expected<AyanamshaValue, core::CoordinateError> ayanamsha_value(const SiderealZodiac& zodiac,
                                                                     double tt_julian_day);

}  // namespace tarvex::kit
