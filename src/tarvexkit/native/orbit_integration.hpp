// tarvexkit._native.integrate_orbit: a massless body carried through the
// solar system by the Gauss-Radau integrator (core/gauss_radau.hpp) under
// the point masses and the Sun's relativistic term of core/nbody_force.hpp,
// the perturbers' states read from a Store's kernels with the interpreter
// lock released.
#pragma once

#include <Python.h>

namespace tarvex::kit {

extern PyMethodDef orbit_functions[];

}  // namespace tarvex::kit
