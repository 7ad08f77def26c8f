#include "tarvexkit/native/position_options.hpp"

#include <atomic>

#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/options_capsule.hpp"

namespace tarvex::kit {

namespace {

// The tarvex module's accessor, imported on first use. Two threads racing
// here import the same capsule; either pointer is the one static object.
std::atomic<const python::OptionsAccess*> cached_access{nullptr};

const python::OptionsAccess* options_access() {
  const python::OptionsAccess* access = cached_access.load(std::memory_order_acquire);
  if (access != nullptr) return access;
  access = static_cast<const python::OptionsAccess*>(
      PyCapsule_Import(python::OPTIONS_CAPSULE_NAME, 0));
  if (access == nullptr) return nullptr;
  if (access->options_size != sizeof(core::PositionOptions) || access->read == nullptr ||
      access->type == nullptr || access->type() == nullptr) {
    PyErr_SetString(PyExc_ImportError,
                    "tarvex and tarvexkit come from different builds; reinstall the package");
    return nullptr;
  }
  cached_access.store(access, std::memory_order_release);
  return access;
}

}  // namespace

bool read_position_options(PyObject* value, std::string_view parameter,
                           core::PositionOptions& out) {
  const python::OptionsAccess* access = options_access();
  if (access == nullptr) return false;
  // The strict binding's own check and wording.
  if (!python::check_instance(value, parameter, access->type(), "PositionOptions")) return false;
  return access->read(value, &out) == 1;
}

}  // namespace tarvex::kit
