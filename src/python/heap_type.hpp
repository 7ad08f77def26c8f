// Heap types of the module: the storage of a created type object, and the
// layout shared by every class (a Python object header followed by one C++
// value). Type objects are created once per process and kept for its
// lifetime; a later import of the module adds the same objects again.
#pragma once

#include <new>
#include <string_view>
#include <utility>

#include "python/handle.hpp"

namespace tarvex::python {

// Flags of every class: immutable type, no subclassing (no BASETYPE), no
// __dict__ and no weak references (no offsets declared).
inline constexpr unsigned long CLASS_FLAGS = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE;
// Result classes only come from the module's own code.
inline constexpr unsigned long RESULT_CLASS_FLAGS = CLASS_FLAGS | Py_TPFLAGS_DISALLOW_INSTANTIATION;

struct ClassSlot {
  PyType_Spec* type_spec;
  PyTypeObject* type = nullptr;  // set by ensure_class, never released
  // The class's methods and attributes in the order vars() lists them, or
  // nullptr to keep the interpreter's (all methods, then all attributes).
  // Ends with nullptr.
  const char* const* member_order = nullptr;
};

// Creates the type on first use, with its members in `member_order`;
// returns a borrowed reference or nullptr with the exception set.
PyTypeObject* ensure_class(ClassSlot& slot);
// The class name as published ("tarvex.Instant" -> "Instant").
std::string_view class_name(const ClassSlot& slot) noexcept;

template <class T>
struct Boxed {
  PyObject_HEAD T value;
};

// A new instance holding `value`; nullptr with the exception set.
template <class T>
PyObject* box(PyTypeObject* type, T value) {
  // PyType_GenericAlloc zero-fills and takes a reference to the heap type.
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  try {
    new (&reinterpret_cast<Boxed<T>*>(self)->value) T(std::move(value));
  } catch (...) {
    type->tp_free(self);
    Py_DECREF(type);
    throw;
  }
  return self;
}

template <class T>
const T& unbox(PyObject* self) noexcept {
  return reinterpret_cast<Boxed<T>*>(self)->value;
}

template <class T>
void dealloc_boxed(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<Boxed<T>*>(self)->value.~T();
  type->tp_free(self);
  Py_DECREF(type);  // instances of heap types own a reference to their type
}

// Slot helper: function pointers go into PyType_Slot as void*.
template <class F>
void* slot_function(F* function) noexcept {
  return reinterpret_cast<void*>(function);
}

}  // namespace tarvex::python
