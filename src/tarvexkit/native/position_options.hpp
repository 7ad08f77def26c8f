// A tarvex.PositionOptions read through its public attributes (origin,
// observer, coordinate_system, reference_epoch, apparent, true_ecliptic);
// the toolkit module has no access to the tarvex module's C internals.
#pragma once

#include <string_view>

#include "core/types.hpp"
#include "python/handle.hpp"

namespace tarvex::kit {

// False with the exception set: TypeError, as tarvex words it, unless the
// object is a tarvex.PositionOptions, noted with `parameter`.
//
// The attributes do not show correction switches given to the constructor
// one by one (light_time=..., precession=...); the request reads them as
// off unless `apparent` turns them all on, which is what tarvex.geometric()
// and tarvex.apparent() build.
bool read_position_options(PyObject* value, std::string_view parameter, core::PositionOptions& out);

}  // namespace tarvex::kit
