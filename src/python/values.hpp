// Value classes of the module: the request values Instant, GeodeticObserver
// and PositionOptions (values.cpp, with the presets geometric and apparent)
// and the engine results Position, DateRange and KernelMetadata
// (value_results.cpp). Each instance holds one core value.
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
extern ClassSlot position_class;
extern ClassSlot date_range_class;
extern ClassSlot kernel_metadata_class;

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

// Results (instantiable only here).
PyObject* new_position(const core::Position& position);
PyObject* new_date_range(double start_julian_day, double end_julian_day,
                         core::TimeScale time_scale);
PyObject* new_kernel_metadata(const core::EphemerisMetadata& metadata);

// Representation text shared with PositionOptions' repr.
std::string geodetic_observer_repr(const core::GeodeticObserver& observer);

}  // namespace tarvex::python
