#include "tarvexkit/native/arrays.hpp"

// Built against NumPy 2 headers for the oldest NumPy the package supports,
// like the tarvex module. The function table stays private to this file.
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#define NPY_TARGET_VERSION NPY_1_23_API_VERSION
#include <numpy/arrayobject.h>

#include <limits>
#include <string>
#include <vector>

#include "python/errors.hpp"

namespace tarvex::kit {

using python::Ref;

namespace {

// Anything NumPy turns into a one-dimensional float64 array.
Ref float64_vector(PyObject* value, std::string_view parameter) {
  if (PyArray_ImportNumPyAPI() < 0) return {};
  Ref array = Ref::steal(PyArray_FROMANY(value, NPY_FLOAT64, 0, 0, NPY_ARRAY_IN_ARRAY));
  if (!array) {
    python::add_processing_note(parameter);
    return {};
  }
  const int dimensions = PyArray_NDIM(reinterpret_cast<PyArrayObject*>(array.get()));
  if (dimensions != 1) {
    python::value_error(std::string(parameter) + " must be a one-dimensional array, got " +
                        std::to_string(dimensions) + " dimensions");
    python::add_processing_note(parameter);
    return {};
  }
  return array;
}

std::span<const double> float64_values(PyObject* array) noexcept {
  auto* numpy_array = reinterpret_cast<PyArrayObject*>(array);
  return {static_cast<const double*>(PyArray_DATA(numpy_array)),
          static_cast<std::size_t>(PyArray_SIZE(numpy_array))};
}

}  // namespace

bool to_column(PyObject* value, std::string_view parameter, Column& out) {
  out.array = float64_vector(value, parameter);
  if (!out.array) return false;
  out.values = float64_values(out.array.get());
  out.parameter = parameter;
  return true;
}

bool check_same_length(std::initializer_list<const Column*> columns) {
  const std::size_t expected = (*columns.begin())->values.size();
  for (const Column* column : columns) {
    if (column->values.size() != expected) {
      python::value_error(std::string(column->parameter) + " has " +
                          std::to_string(column->values.size()) + " elements where " +
                          std::to_string(expected) + " are expected");
      return false;
    }
  }
  return true;
}

python::Ref new_float64_array(std::span<const std::size_t> shape, double*& data) {
  if (PyArray_ImportNumPyAPI() < 0) return {};
  constexpr auto LIMIT = static_cast<std::size_t>(std::numeric_limits<npy_intp>::max());
  std::vector<npy_intp> dimensions;
  std::size_t bytes = sizeof(double);
  for (std::size_t extent : shape) {
    if (extent != 0 && bytes > LIMIT / extent) {
      PyErr_NoMemory();
      return {};
    }
    bytes *= extent;
    dimensions.push_back(static_cast<npy_intp>(extent));
  }
  Ref array = Ref::steal(
      PyArray_SimpleNew(static_cast<int>(dimensions.size()), dimensions.data(), NPY_FLOAT64));
  if (!array) return {};
  data = static_cast<double*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
  return array;
}

}  // namespace tarvex::kit
