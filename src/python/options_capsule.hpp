// The private bridge through which tarvexkit's native module reads a
// tarvex.PositionOptions whole, correction switches included: the tarvex
// module holds a PyCapsule under the name `__options_capi__` (a dunder
// name, as C extensions publish their C interfaces, so that the module's
// listed names stay what they are) whose pointer is an OptionsAccess. Both
// modules are built from the same sources in one build, so
// core::PositionOptions has one layout; the size recorded in the capsule
// guards against a module from another build.
#pragma once

#include <cstddef>

#include "core/types.hpp"
#include "python/handle.hpp"

namespace tarvex::python {

// "module.attribute", as PyCapsule_Import looks it up.
inline constexpr const char* OPTIONS_CAPSULE_NAME = "tarvex.__options_capi__";

struct OptionsAccess {
  std::size_t options_size;  // sizeof(core::PositionOptions) in the module that made it
  // The class tarvex.PositionOptions.
  PyTypeObject* (*type)();
  // 1 with *out the options when `value` is a tarvex.PositionOptions, 0
  // when it is not; never raises.
  int (*read)(PyObject* value, core::PositionOptions* out);
};

// The capsule, for the tarvex module's execution step (options_capsule.cpp).
PyObject* new_options_capsule();

}  // namespace tarvex::python
