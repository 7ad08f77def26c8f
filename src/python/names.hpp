// The names of the enumerations at the Python boundary, read through the
// core's table of each enumeration. A parser normalises a name (Unicode
// white space trimmed at both ends, ASCII letters lower-cased, nothing else
// folded) and matches it byte for byte against the table; a failure is the
// message the caller raises as ValueError, `unknown body "xyz"` with the
// normalised name quoted. The first form of each member is its canonical
// name, which attributes and enumeration objects report.
//
// Both native modules read names here: tarvex and tarvexkit._native accept
// the same spellings and word a refusal alike.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "core/events.hpp"
#include "core/houses.hpp"
#include "core/sidereal.hpp"
#include "core/types.hpp"

namespace tarvex::python {

using core::LunationEvent;
using core::SeasonEvent;

template <class T>
using Parsed = std::expected<T, std::string>;

Parsed<core::Body> parse_body(std::string_view name);
// The origin's name alone; parse_origin (convert.hpp) adds the observer rules.
Parsed<core::OriginKind> parse_origin_kind(std::string_view name);
Parsed<core::TimeScale> parse_time_scale(std::string_view name);
Parsed<core::HouseSystem> parse_house_system(std::string_view name);
Parsed<SeasonEvent> parse_season_event(std::string_view name);
Parsed<core::SiderealMode> parse_sidereal_mode(std::string_view name);
Parsed<LunationEvent> parse_lunation_event(std::string_view name);
Parsed<core::ReferenceEpoch> parse_reference_epoch(std::string_view name);
Parsed<core::CoordinateSystem> parse_coordinate_system(std::string_view name);
Parsed<core::HorizonEventKind> parse_horizon_event_kind(std::string_view name);

// Canonical names ("tdb", "geocentric", "of_date", "whole_sign", ...).
std::string_view canonical_name(core::TimeScale scale) noexcept;
std::string_view canonical_name(core::OriginKind origin) noexcept;
std::string_view canonical_name(core::CoordinateSystem system) noexcept;
std::string_view canonical_name(core::ReferenceEpoch epoch) noexcept;
std::string_view canonical_name(core::HouseSystem system) noexcept;
std::string_view canonical_name(SeasonEvent event) noexcept;
std::string_view canonical_name(LunationEvent event) noexcept;
std::string_view canonical_name(core::SiderealMode mode) noexcept;
std::string_view canonical_name(core::HorizonEventKind kind) noexcept;

}  // namespace tarvex::python
