// tarvexkit._native's search functions: the search core (search_core.hpp)
// over arrays of spans, for a quantity that is either a Python callable
// f(instants, tags) -> values (run in the calling thread, one batch per
// step) or a native quantity evaluated on the Store's worker threads with
// the interpreter lock released:
//
//   ("horizon", store, earth_rotation, body, options,
//    longitude_east_deg, latitude_deg, height_m, value, altitude_deg)
//
// value "altitude" (the altitude minus altitude_deg, NaN for the Moon's
// standard altitude) or "hour_angle_sine" (horizon_quantity.hpp), at TT
// Julian days.
#pragma once

#include <Python.h>

namespace tarvex::kit {

extern PyMethodDef search_functions[];

// Adds the search steps and tolerances of search_core.hpp to the module as
// float attributes of the same names (TOLERANCE_DAYS, ...). -1 with an
// exception set on failure.
int add_search_constants(PyObject* module);

}  // namespace tarvex::kit
