// The one owned-reference handle of the Python layer. Every new reference
// the module creates lives in exactly one Ref until it is handed to the
// interpreter with release(), so error paths cannot leak.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace tarvex::python {

class Ref {
 public:
  Ref() noexcept = default;
  // Takes over a new reference (nullptr allowed, e.g. a failed call).
  static Ref steal(PyObject* object) noexcept { return Ref(object); }
  // Adds a reference to a borrowed object.
  static Ref borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) Py_XSETREF(object_, std::exchange(other.object_, nullptr));
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller (usually the interpreter).
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit Ref(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

}  // namespace tarvex::python
