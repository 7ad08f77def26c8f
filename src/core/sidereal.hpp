// Ayanamsha (Lahiri, Fagan-Bradley) from the IAU 2006 accumulated general
// precession in longitude, and its rate.
#pragma once

#include <cstdint>
#include <expected>

#include "core/errors.hpp"
#include "core/name_table.hpp"

namespace tarvex::core {

enum class SiderealMode : std::uint8_t { Lahiri = 0, FaganBradley = 1 };

inline constexpr NameForm<SiderealMode> SIDEREAL_MODE_NAMES[] = {
    {"lahiri", SiderealMode::Lahiri},
    {"fagan_bradley", SiderealMode::FaganBradley},
    {"fagan-bradley", SiderealMode::FaganBradley},
    {"faganbradley", SiderealMode::FaganBradley},
};

// Degrees at the TT Julian date; not reduced to a range.
std::expected<double, CoordinateError> ayanamsha_deg(double tt_julian_day, SiderealMode mode);
// Degrees per day; the same for both modes.
std::expected<double, CoordinateError> ayanamsha_rate_deg_per_day(double tt_julian_day);

}  // namespace tarvex::core
