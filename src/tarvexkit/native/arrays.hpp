// NumPy arrays at the toolkit module's boundary: Julian days in, float64
// results out. The only file of the module that uses NumPy's C API.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string_view>

#include "python/handle.hpp"

namespace tarvex::kit {

// A one-dimensional float64 array argument: the array kept alive for the
// call, its values and the parameter it came from.
struct Column {
  python::Ref array;
  std::span<const double> values;
  std::string_view parameter;
};

// A converter for Argument rows: anything NumPy turns into a
// one-dimensional float64 array, kept as a C-contiguous float64 array (the
// object itself when it already is one, so nothing is copied). False with
// TypeError or ValueError set, noted with `parameter`.
bool to_column(PyObject* value, std::string_view parameter, Column& out);
// False with ValueError "{parameter} has N elements where M are expected"
// for the first column whose length differs from the first column's.
bool check_same_length(std::initializer_list<const Column*> columns);

// For loops that hold the interpreter lock: every SIGNAL_STRIDE elements
// runs pending signal handlers, true when one raised (Ctrl-C's
// KeyboardInterrupt), which ends the call. A stride of elements costs well
// under a millisecond in every loop of the module.
inline constexpr std::size_t SIGNAL_STRIDE = 4096;
inline bool interrupted_at(std::size_t index) {
  return index % SIGNAL_STRIDE == SIGNAL_STRIDE - 1 && PyErr_CheckSignals() != 0;
}

// A new C-contiguous float64 array of the given shape, left uninitialised;
// `data` receives its buffer. nullptr with MemoryError (or NumPy's error).
python::Ref new_float64_array(std::span<const std::size_t> shape, double*& data);

}  // namespace tarvex::kit
