// The enumeration classes HouseSystem, SeasonEvent, LunationEvent,
// SiderealMode and HorizonEventKind. An instance stores the member's
// position in its class's table and reports the canonical name; instances
// are not singletons (every call makes a new object).
#pragma once

#include "core/events.hpp"
#include "core/houses.hpp"
#include "core/sidereal.hpp"
#include "python/convert.hpp"
#include "python/heap_type.hpp"

namespace tarvex::python {

extern ClassSlot house_system_class;
extern ClassSlot season_event_class;
extern ClassSlot lunation_event_class;
extern ClassSlot sidereal_mode_class;
extern ClassSlot horizon_event_kind_class;

PyObject* new_house_system(core::HouseSystem system);
PyObject* new_lunation_event(LunationEvent event);
PyObject* new_sidereal_mode(core::SiderealMode mode);
PyObject* new_horizon_event_kind(core::HorizonEventKind kind);

}  // namespace tarvex::python
