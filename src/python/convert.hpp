// Names and Julian days at the Python boundary: the origin with its
// observer rules, name-like and Julian-day arguments. The enumerations'
// names themselves are read in names.hpp.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/types.hpp"
#include "python/handle.hpp"
#include "python/names.hpp"

namespace tarvex::python {

// The observer rules: topocentric needs an observer (which must validate),
// every other origin refuses one.
Parsed<core::Origin> parse_origin(std::string_view name,
                                  const std::optional<core::GeodeticObserver>& observer);

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
