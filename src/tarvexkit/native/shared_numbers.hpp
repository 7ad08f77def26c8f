// The numbers the kit's Python modules share with the native code, added
// to tarvexkit._native as float attributes so that each is written once:
//
//   AU_KM                 the astronomical unit (IAU 2012), core/types.hpp
//   MOON_MEAN_RADIUS_KM   the Moon's mean radius 1737.4 km (IAU WGCCRE),
//                         core/types.hpp: its semi-diameter on the sky
//   MOON_K_PENUMBRA       the Moon's radius in Earth equatorial radii for
//   MOON_K_UMBRA          the penumbra and for the umbra of eclipses
//                         (eclipse_geometry.hpp, after NASA's canon)
#pragma once

#include <Python.h>

namespace tarvex::kit {

// -1 with an exception set on failure.
int add_shared_numbers(PyObject* module);

}  // namespace tarvex::kit
