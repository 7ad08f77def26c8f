// tarvexkit._native.star_places: apparent places of catalogue stars, many
// stars at many instants in one call on worker threads, in the frames of
// the planets' positions (the same precession-nutation and ecliptic code).
#pragma once

#include <Python.h>

namespace tarvex::kit {

extern PyMethodDef star_functions[];

}  // namespace tarvex::kit
