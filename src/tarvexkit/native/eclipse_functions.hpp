// tarvexkit._native's eclipse geometry (eclipse_geometry.hpp) over the
// place arrays of Store.positions: (n, 2, 4) rows of the source (the Sun,
// or the planet a Moon occults) and the Moon, each right ascension,
// declination (degrees), distance (au) and a fourth column not read.
#pragma once

#include <Python.h>

namespace tarvex::kit {

extern PyMethodDef eclipse_functions[];

}  // namespace tarvex::kit
