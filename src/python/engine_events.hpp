// The season, lunation, horizon and sidereal methods of Engine. The table is
// appended to Engine's own methods, after kernel_metadata.
#pragma once

#include "python/handle.hpp"

namespace tarvex::python {

// Terminated by a {nullptr} sentinel.
extern PyMethodDef ENGINE_EVENT_METHODS[];

}  // namespace tarvex::python
