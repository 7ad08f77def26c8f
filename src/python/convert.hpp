// Names and Julian days at the Python boundary. The parsers normalise a
// name (Unicode white space trimmed at both ends, ASCII letters lower-cased,
// nothing else folded) and match it byte for byte against a fixed
// vocabulary; a failure is the message the caller raises as ValueError.
// The first form of each member is its canonical name, which attributes and
// enumeration objects report.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/events.hpp"
#include "core/houses.hpp"
#include "core/sidereal.hpp"
#include "core/types.hpp"
#include "python/handle.hpp"

namespace tarvex::python {

using core::LunationEvent;
using core::SeasonEvent;

template <class T>
using Parsed = std::expected<T, std::string>;

Parsed<core::Body> parse_body(std::string_view name);
// The observer rules: topocentric needs an observer (which must validate),
// every other origin refuses one.
Parsed<core::Origin> parse_origin(std::string_view name,
                                  const std::optional<core::GeodeticObserver>& observer);
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

// A str, or the str attribute `name` of any object (the enumeration
// objects). Otherwise ValueError "expected a name string or an tarvex enum
// with a name attribute"; returns std::nullopt with the error set.
std::optional<std::string> extract_name(PyObject* value);

// The Julian day of an Instant (its scale ignored) or of anything the
// interpreter converts to a float; ValueError otherwise, and for NaN or
// infinity. Returns std::nullopt with the error set.
std::optional<double> extract_julian_day(PyObject* value);

// The two above as parameter converters for Argument rows; like them, they
// add no "while processing" note.
bool to_name(PyObject* value, std::string_view parameter, std::string& out);
bool to_julian_day(PyObject* value, std::string_view parameter, double& out);

}  // namespace tarvex::python
