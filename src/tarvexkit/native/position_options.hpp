// A tarvex.PositionOptions read whole (origin, observer, frame, epoch, the
// apparent and true-ecliptic flags and every correction switch) through the
// tarvex module's private capsule (python/options_capsule.hpp): the value
// the strict engine itself would use, so a batch of the store equals the
// strict engine's for any options.
#pragma once

#include <string_view>

#include "core/types.hpp"
#include "python/handle.hpp"

namespace tarvex::kit {

// False with the exception set: TypeError, as tarvex words it, unless the
// object is a tarvex.PositionOptions, noted with `parameter`.
bool read_position_options(PyObject* value, std::string_view parameter, core::PositionOptions& out);

}  // namespace tarvex::kit
