// Result classes of the house and horizon computations (HouseCusps,
// RiseSetTransit, HorizonEvent) and the module function house_cusps, which
// needs no engine.
#pragma once

#include <optional>

#include "core/events.hpp"
#include "core/houses.hpp"
#include "python/heap_type.hpp"

namespace tarvex::python {

extern ClassSlot house_cusps_class;
extern ClassSlot rise_set_transit_class;
extern ClassSlot horizon_event_class;

extern PyMethodDef house_cusps_function;

PyObject* new_house_cusps(const core::HouseCusps& cusps);
PyObject* new_rise_set_transit(double transit_ut1_julian_day,
                               std::optional<double> rise_ut1_julian_day,
                               std::optional<double> set_ut1_julian_day);
PyObject* new_horizon_event(double ut1_julian_day, core::HorizonEventKind kind);

}  // namespace tarvex::python
