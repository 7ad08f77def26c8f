// The tarvex module's private PositionOptions capsule (options_capsule.hpp):
// a static OptionsAccess whose reader copies the value an options object
// holds (values.cpp).
#include "python/options_capsule.hpp"

#include "python/values.hpp"

namespace tarvex::python {

namespace {

PyTypeObject* options_type() { return position_options_class.type; }

int read_options(PyObject* value, core::PositionOptions* out) {
  if (value == nullptr || out == nullptr || !Py_IS_TYPE(value, position_options_class.type)) {
    return 0;
  }
  *out = position_options_value(value);
  return 1;
}

const OptionsAccess ACCESS{sizeof(core::PositionOptions), options_type, read_options};

}  // namespace

PyObject* new_options_capsule() {
  return PyCapsule_New(const_cast<OptionsAccess*>(&ACCESS), OPTIONS_CAPSULE_NAME, nullptr);
}

}  // namespace tarvex::python
