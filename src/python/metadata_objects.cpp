#include "python/metadata_objects.hpp"

#include <string>
#include <utility>

#include "python/handle.hpp"

namespace tarvex::python {

PyObject* new_text(std::string_view text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* additional_kernel_list(const core::EphemerisMetadata& metadata) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(metadata.additional_kernels.size())));
  if (!list) return nullptr;
  Py_ssize_t index = 0;
  for (const core::KernelProvenance& kernel : metadata.additional_kernels) {
    Ref name = Ref::steal(new_text(kernel.name));
    Ref sha256 = Ref::steal(new_text(kernel.sha256));
    if (!name || !sha256) return nullptr;
    PyObject* pair = PyTuple_Pack(2, name.get(), sha256.get());
    if (pair == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), index++, pair);  // steals the tuple
  }
  return list.release();
}

PyObject* metadata_dict(const core::EphemerisMetadata& metadata) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return nullptr;
  // Insertion order is part of the result.
  const std::pair<const char*, const std::string*> texts[] = {
      {"engine_version", &metadata.engine_version},
      {"kernel_name", &metadata.kernel_name},
      {"kernel_sha256", &metadata.kernel_sha256},
      {"coordinate_frame", &metadata.coordinate_frame},
  };
  for (const auto& [key, text] : texts) {
    Ref value = Ref::steal(new_text(*text));
    if (!value || PyDict_SetItemString(dict.get(), key, value.get()) < 0) return nullptr;
  }
  Ref kernels = Ref::steal(additional_kernel_list(metadata));
  if (!kernels || PyDict_SetItemString(dict.get(), "additional_kernels", kernels.get()) < 0) {
    return nullptr;
  }
  return dict.release();
}

}  // namespace tarvex::python
