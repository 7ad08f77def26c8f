// tarvexkit._native.EarthRotation: the leap-second kernel and Earth
// orientation table of a store, opened once more, turning apparent places of
// date into altitude, azimuth and hour angle over arrays with the engine's
// own UT1, TT and pole (core/local_horizon.hpp).
#pragma once

#include "python/heap_type.hpp"

namespace tarvex::kit {

extern python::ClassSlot earth_rotation_class;

}  // namespace tarvex::kit
