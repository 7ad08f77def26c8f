// Request value classes of the module: Instant, GeodeticObserver and
// PositionOptions, with the presets geometric and apparent. Each instance
// holds one core value. The result classes are in value_results.hpp.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/types.hpp"
#include "python/convert.hpp"
#include "python/heap_type.hpp"

namespace tarvex::python {

extern ClassSlot instant_class;
extern ClassSlot geodetic_observer_class;
extern ClassSlot position_options_class;

// Module functions geometric() and apparent().
extern PyMethodDef geometric_function;
extern PyMethodDef apparent_function;

// Instant.
bool is_instant(PyObject* object) noexcept;
const core::Instant& instant_value(PyObject* instant) noexcept;  // requires is_instant
PyObject* new_instant(core::Instant instant);
bool to_instant(PyObject* value, std::string_view parameter, core::Instant& out);
// A sequence of Instant objects (see to_text_list for the sequence rules).
bool to_instant_list(PyObject* value, std::string_view parameter, std::vector<core::Instant>& out);

// GeodeticObserver (always validated on construction).
bool is_geodetic_observer(PyObject* object) noexcept;
const core::GeodeticObserver& geodetic_observer_value(PyObject* observer) noexcept;
PyObject* new_geodetic_observer(const core::GeodeticObserver& observer);
bool to_geodetic_observer(PyObject* value, std::string_view parameter, core::GeodeticObserver& out);
// For parameters whose default is None: nullptr (omitted) gives std::nullopt.
bool to_optional_geodetic_observer(PyObject* value, std::string_view parameter,
                                   std::optional<core::GeodeticObserver>& out);

// PositionOptions.
bool is_position_options(PyObject* object) noexcept;
const core::PositionOptions& position_options_value(PyObject* options) noexcept;
PyObject* new_position_options(const core::PositionOptions& options);
bool to_position_options(PyObject* value, std::string_view parameter, core::PositionOptions& out);

// The builder behind geometric() and apparent(): origin with the observer
// rules, then the coordinate system; geometric is J2000 with `apparent`
// off, apparent is of date with `apparent` on; every other switch is off.
Parsed<core::PositionOptions> position_options_from_origin(
    std::string_view origin, std::string_view coordinate_system,
    const std::optional<core::GeodeticObserver>& observer, bool apparent);

// Representation text shared with PositionOptions' repr.
std::string geodetic_observer_repr(const core::GeodeticObserver& observer);

}  // namespace tarvex::python
