#include "python/heap_type.hpp"

#include <cstring>

namespace tarvex::python {

PyTypeObject* ensure_class(ClassSlot& slot) {
  if (slot.type == nullptr) {
    slot.type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(slot.type_spec));
  }
  return slot.type;
}

std::string_view class_name(const ClassSlot& slot) noexcept {
  const char* name = slot.type_spec->name;
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr ? dot + 1 : name;
}

}  // namespace tarvex::python
