// The Moon's osculating orbit from a batch of its positions.
//
// A batch gives positions only, so the Moon's geocentric velocity is the
// five-point central difference of its geometric J2000 positions h apart,
//   v = (-x(2h) + 8 x(h) - 8 x(-h) + x(-2h)) / 12h
// (the standard fourth-order central difference; Abramowitz and Stegun,
// Handbook of Mathematical Functions, 25.3.6), whose truncation error over
// h = 1/128 day is about (n h)^4 / 30 ~ 3e-13 of the velocity (n the Moon's
// mean motion). The state is rotated to the mean ecliptic and equinox of
// date (src/core/frames.hpp) and turned into the two-body elements of
// src/core/lunar_points.hpp. The chart (chart.cpp) and the lunar-point
// arrays of tarvexkit.lunar (through astrology.cpp) both come here.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <span>

#include "core/lunar_points.hpp"

namespace tarvex::kit {

// The instants of one stencil, in steps of h from the base instant: -2h,
// -h, h, 2h, and the base instant itself last.
inline constexpr std::array<double, 5> MOON_STENCIL = {-2.0, -1.0, 1.0, 2.0, 0.0};
// Numbers of one batch row (RA, Dec in degrees, distance in au, rate).
inline constexpr std::size_t MOON_ROW_NUMBERS = 4;
// Numbers of one base instant's stencil rows.
inline constexpr std::size_t MOON_STENCIL_NUMBERS = MOON_STENCIL.size() * MOON_ROW_NUMBERS;

// TDB Julian days of the stencils of `tdb` (step h = `step_days`), base
// instant after base instant, into `out` (MOON_STENCIL.size() per instant).
void moon_stencil_days(std::span<const double> tdb, double step_days,
                       std::span<double> out) noexcept;

// The osculating points (mean ecliptic and equinox of date) at TDB `tdb`
// from the Moon's geometric geocentric equatorial J2000 batch rows at the
// instants of its stencil (MOON_STENCIL_NUMBERS numbers).
std::expected<core::OsculatingLunarPoints, core::LunarPointError> osculating_from_stencil(
    std::span<const double> rows, double tdb, double step_days) noexcept;

}  // namespace tarvex::kit
