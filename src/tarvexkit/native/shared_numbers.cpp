// The shared numbers as module attributes (see shared_numbers.hpp).
#include "tarvexkit/native/shared_numbers.hpp"

#include <utility>

#include "core/types.hpp"
#include "python/handle.hpp"
#include "tarvexkit/native/eclipse_geometry.hpp"

namespace tarvex::kit {

int add_shared_numbers(PyObject* module) {
  const std::pair<const char*, double> numbers[] = {
      {"AU_KM", core::AU_KM},
      {"MOON_MEAN_RADIUS_KM", core::MOON_MEAN_RADIUS_KM},
      {"MOON_K_PENUMBRA", eclipse::MOON_K_PENUMBRA},
      {"MOON_K_UMBRA", eclipse::MOON_K_UMBRA},
  };
  for (const auto& [name, value] : numbers) {
    python::Ref number = python::Ref::steal(PyFloat_FromDouble(value));
    if (!number || PyModule_AddObjectRef(module, name, number.get()) < 0) return -1;
  }
  return 0;
}

}  // namespace tarvex::kit
