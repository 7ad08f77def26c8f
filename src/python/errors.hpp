// Exceptions raised by the module: ValueError from the lower layers' error
// values, and PanicException for anything that escapes as a C++ exception.
// Every entry point runs its body through guarded() so that no C++
// exception ever unwinds into the interpreter.
#pragma once

#include <string_view>

#include "core/errors.hpp"
#include "python/handle.hpp"
#include "spk/interruption.hpp"

namespace tarvex::python {

// Each sets the Python error and returns nullptr, so call sites read
// `return value_error(...)`.
PyObject* value_error(std::string_view message);
PyObject* map_ephemeris_error(const core::EphemerisError& error);
PyObject* map_coordinate_error(core::CoordinateError error);
PyObject* type_error(std::string_view message);
// An interruptible operation's failure: ValueError for an engine error; for
// a stop, the exception the signal handler raised is already set.
PyObject* map_stop_or_error(const spk::StopOrError& failure);

// The PanicException class: derives from BaseException so that
// `except Exception` does not swallow internal failures; created on first
// need, once per process, and deliberately not a module attribute.
// Returns a borrowed reference, or nullptr with an exception set.
PyObject* panic_exception_type();
// Raises PanicException with the message; returns nullptr.
PyObject* raise_panic(std::string_view message) noexcept;

// Adds the PEP 678 note "while processing '<parameter>'" to the pending
// exception. The exception's own message stays as the conversion made it.
void add_processing_note(std::string_view parameter) noexcept;

namespace detail {
// Translates the in-flight C++ exception (called from a catch block).
void raise_from_current_exception() noexcept;
}  // namespace detail

// Runs an entry-point body; a C++ exception becomes PanicException
// (std::bad_alloc becomes MemoryError) and the failure value is returned.
template <class Result, class Body>
Result guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    detail::raise_from_current_exception();
    return failure;
  }
}

// Adaptors that turn plain functions into C entry points for the
// interpreter's slot and method tables, each wrapped in guarded().
template <auto F>
PyObject* fastcall_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self, args, nargs, kwnames); });
}

template <auto F>
PyObject* new_entry(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(type, args, kwargs); });
}

template <auto F>
PyObject* unary_entry(PyObject* self) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self); });
}

template <auto F>
PyObject* getter_entry(PyObject* self, void*) noexcept {
  return guarded<PyObject*>(nullptr, [&] { return F(self); });
}

// PyMethodDef stores every method as PyCFunction; the interpreter calls it
// with the signature its flags announce.
template <auto F>
PyCFunction as_cfunction() noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall_entry<F>));
}

}  // namespace tarvex::python
