// Module-level functions of tarvexkit._native for astrology: house cusps of
// the eighteen systems, the site's RAMC and true obliquity, ayanamshas and
// the lunar points, each over one-dimensional float64 arrays. Pure
// functions of src/core; nothing here touches a kernel (the Moon's state for
// the osculating points comes in from the caller's batch).
#pragma once

#include "python/handle.hpp"

namespace tarvex::kit {

// The method table, ended by a null entry, for the module definition.
extern PyMethodDef astrology_functions[];

}  // namespace tarvex::kit
