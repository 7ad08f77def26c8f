// Store.chart: everything a chart computes, for one instant or arrays of
// instants, in one call: the apparent longitudes of the bodies with the
// derivative of each longitude, the lunar points, the house cusps of any
// of the eighteen systems (with the polar fallback and the sidereal
// zodiac), the house of every point and the aspects in orb. The Python
// layer (tarvexkit/chart.py) only turns arguments and results into
// dataclasses.
#pragma once

#include "python/handle.hpp"

namespace tarvex::kit {

// The method Store.chart (self is the Store).
PyObject* store_chart(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Its docstring.
extern const char* const STORE_CHART_DOC;

}  // namespace tarvex::kit
