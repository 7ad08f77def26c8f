// The time-scale parameter of the module's functions, read as tarvex reads
// a scale name (python/names.hpp).
#pragma once

#include <string_view>

#include "core/types.hpp"
#include "python/handle.hpp"

namespace tarvex::kit {

// A converter for Argument rows: a str naming a time scale. TypeError with
// the "while processing" note when the value is no str; ValueError
// `unknown time scale "tai"` without the note, as tarvex.Instant words it.
bool to_time_scale(PyObject* value, std::string_view parameter, core::TimeScale& out);

}  // namespace tarvex::kit
