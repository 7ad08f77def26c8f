// tarvexkit._native.EarthRotation: the leap-second kernel and Earth
// orientation table of a store (shared with the store's parsed tables, or
// opened from files when made directly), turning apparent places of
// date into altitude, azimuth and hour angle over arrays with the engine's
// own UT1, TT and pole (core/local_horizon.hpp).
#pragma once

#include <Python.h>

#include "python/heap_type.hpp"
#include "spk/engine_time.hpp"

namespace tarvex::kit {

extern python::ClassSlot earth_rotation_class;

// A new EarthRotation over the time kernels already attached to
// `store_time` (copies of the parsed tables: no file is read); nullptr with
// ValueError when a kernel is missing.
PyObject* new_earth_rotation(const spk::EngineTime& store_time);

}  // namespace tarvex::kit
