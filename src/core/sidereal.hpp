// The strict module's two sidereal modes, Lahiri and Fagan-Bradley: names
// for the binding and the rows of the one ayanamsha table
// (ayanamshas.hpp) they stand for. Evaluation is the table's.
#pragma once

#include <cstdint>
#include <expected>

#include "core/ayanamshas.hpp"
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

// The row of the ayanamsha table a mode is.
constexpr Ayanamsha ayanamsha_of(SiderealMode mode) noexcept {
  return mode == SiderealMode::FaganBradley ? Ayanamsha::FaganBradley : Ayanamsha::Lahiri;
}

// Degrees at the TT Julian date; not reduced to a range.
inline std::expected<double, CoordinateError> ayanamsha_deg(double tt_julian_day,
                                                            SiderealMode mode) {
  return ayanamsha_deg(ayanamsha_of(mode), tt_julian_day);
}

}  // namespace tarvex::core
