#include "python/heap_type.hpp"

#include <cstring>

#include "python/handle.hpp"

namespace tarvex::python {

namespace {

// Moves each named member to the end of the type's dictionary, in the
// given order. The values stay the same objects; only the order in which
// the dictionary lists them changes.
bool order_members(PyTypeObject* type, const char* const* names) {
  PyObject* dict = type->tp_dict;
  for (const char* const* name = names; *name != nullptr; ++name) {
    Ref key = Ref::steal(PyUnicode_InternFromString(*name));
    if (!key) return false;
    Ref value = Ref::borrow(PyDict_GetItemWithError(dict, key.get()));
    // A name the class lacks is passed over; the class tests pin the order.
    if (!value) {
      if (PyErr_Occurred()) return false;
      continue;
    }
    if (PyDict_DelItem(dict, key.get()) < 0 || PyDict_SetItem(dict, key.get(), value.get()) < 0)
      return false;
  }
  PyType_Modified(type);
  return true;
}

}  // namespace

PyTypeObject* ensure_class(ClassSlot& slot) {
  if (slot.type == nullptr) {
    Ref type = Ref::steal(PyType_FromSpec(slot.type_spec));
    if (!type) return nullptr;
    if (slot.member_order != nullptr &&
        !order_members(reinterpret_cast<PyTypeObject*>(type.get()), slot.member_order)) {
      return nullptr;
    }
    slot.type = reinterpret_cast<PyTypeObject*>(type.release());
  }
  return slot.type;
}

std::string_view class_name(const ClassSlot& slot) noexcept {
  const char* name = slot.type_spec->name;
  const char* dot = std::strrchr(name, '.');
  return dot != nullptr ? dot + 1 : name;
}

}  // namespace tarvex::python
