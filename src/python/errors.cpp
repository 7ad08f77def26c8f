#include "python/errors.hpp"

#include <cstdio>
#include <exception>
#include <new>
#include <string>

namespace tarvex::python {

namespace {

PyObject* set_error(PyObject* type, std::string_view message) {
  Ref text = Ref::steal(
      PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

// Process lifetime: the class outlives every module object, like the
// interpreter's own exception classes.
PyObject* panic_type = nullptr;

}  // namespace

PyObject* value_error(std::string_view message) { return set_error(PyExc_ValueError, message); }

PyObject* type_error(std::string_view message) { return set_error(PyExc_TypeError, message); }

PyObject* map_ephemeris_error(const core::EphemerisError& error) {
  return value_error(error.message());
}

PyObject* map_stop_or_error(const spk::StopOrError& failure) {
  if (const auto* error = std::get_if<core::EphemerisError>(&failure)) {
    return map_ephemeris_error(*error);
  }
  return nullptr;
}

PyObject* map_coordinate_error(core::CoordinateError error) {
  return value_error(core::message(error));
}

PyObject* panic_exception_type() {
  if (panic_type == nullptr) {
    panic_type = PyErr_NewExceptionWithDoc(
        "tarvex.PanicException",
        "An internal invariant of tarvex failed; the operation was abandoned.", PyExc_BaseException,
        nullptr);
  }
  return panic_type;
}

PyObject* raise_panic(std::string_view message) noexcept {
  PyObject* type = panic_exception_type();
  if (type == nullptr) return nullptr;  // the creation failure is already set
  // A pending exception from the failed body would be misleading next to
  // the panic; the panic replaces it.
  PyErr_Clear();
  Ref text = Ref::steal(
      PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
  if (text) PyErr_SetObject(type, text.get());
  return nullptr;
}

void add_processing_note(std::string_view parameter) noexcept {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    // A stack buffer keeps this path free of C++ allocations (it runs
    // inside error handling and must not throw); parameter names are short.
    char text[160];
    const int length = std::snprintf(text, sizeof text, "while processing '%.*s'",
                                     static_cast<int>(parameter.size()), parameter.data());
    Ref note = Ref::steal(PyUnicode_FromStringAndSize(
        text, length < static_cast<int>(sizeof text) ? length : sizeof text - 1));
    Ref result;
    if (note) result = Ref::steal(PyObject_CallMethod(value, "add_note", "O", note.get()));
    // A failure to attach the note must not replace the conversion error.
    if (!result) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

namespace detail {

void raise_from_current_exception() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
}

}  // namespace detail

}  // namespace tarvex::python
