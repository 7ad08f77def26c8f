// tarvexkit._native.Store: the kernels and time data of one tarvex engine,
// opened once, with array-in, array-out batch positions on worker threads
// and element-wise time conversions.
#pragma once

#include "python/heap_type.hpp"

namespace tarvex::kit {

extern python::ClassSlot store_class;

}  // namespace tarvex::kit
