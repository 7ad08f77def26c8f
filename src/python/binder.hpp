// The one argument binder of the module. Every function, method and
// constructor binds its arguments here, so the interpreter's wording of
// binding errors comes from a single place, and converts them with the
// parameter converters below, which add the "while processing" note.
//
// A parameter is declared once, as a row of name, converter and the
// variable it converts into; binding places the arguments, and converting
// runs the rows in order (a method may take its borrow in between):
//
//   std::string_view body;
//   core::Instant instant;
//   const Argument parameters[] = {{"body", to_text, body}, {"instant", to_instant, instant}};
//   Arguments arguments("Engine.position()", parameters);
//   if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
//
// The companion native module tarvexkit._native compiles this binder in and
// binds its arguments the same way.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

#include "python/errors.hpp"
#include "python/handle.hpp"

namespace tarvex::python {

// What happens when a parameter is not given.
enum class Default : std::uint8_t {
  Required,  // binding fails with "missing ... required positional argument"
  Value,     // the converter's caller applies the parameter's default
  None,      // default None: an explicit None counts as omitted as well
};

inline constexpr std::size_t MAX_PARAMETERS = 12;

// The bound arguments: borrowed references that live as long as the call,
// nullptr for an omitted parameter.
class Bound {
 public:
  PyObject* operator[](std::size_t index) const noexcept { return values_[index]; }
  bool given(std::size_t index) const noexcept { return values_[index] != nullptr; }

 private:
  friend class Binder;
  std::array<PyObject*, MAX_PARAMETERS> values_{};
};

// One row of a parameter list: the parameter's name, what its omission
// means, its converter and the variable the converter writes. A converter
// is any `bool(PyObject* value, std::string_view parameter, T& out)`. An
// omitted parameter is not converted: its variable keeps the value it was
// initialised with, which is the parameter's default.
class Argument {
 public:
  template <class T>
  Argument(std::string_view name, bool (*converter)(PyObject*, std::string_view, T&),
           T& destination, Default fallback = Default::Required) noexcept
      : name(name),
        fallback(fallback),
        call_(&call<T>),
        converter_(reinterpret_cast<Erased>(converter)),
        destination_(&destination) {}

  // False with an exception set when the converter refuses the value.
  bool convert(PyObject* value) const { return call_(converter_, value, name, destination_); }

  std::string_view name;
  Default fallback;

 private:
  // Function pointers round-trip through any function pointer type.
  using Erased = void (*)();
  template <class T>
  static bool call(Erased converter, PyObject* value, std::string_view name, void* destination) {
    const auto typed = reinterpret_cast<bool (*)(PyObject*, std::string_view, T&)>(converter);
    return typed(value, name, *static_cast<T*>(destination));
  }

  bool (*call_)(Erased, PyObject*, std::string_view, void*);
  Erased converter_;
  void* destination_;
};

// The arguments of one call bound against Argument rows, which must outlive
// it. `function` names the callable with class and parentheses:
// "Instant.__new__()". Every parameter is positional-or-keyword; required
// ones come first, as in a Python function.
class Arguments {
 public:
  Arguments(const char* function, std::span<const Argument> rows) noexcept
      : function_(function), rows_(rows) {}

  // Vectorcall arguments; tp_new arguments (a tuple and an optional dict).
  bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
  bool bind(PyObject* args, PyObject* kwargs);
  // Runs the converters of the given arguments in row order and stops at
  // the first refusal.
  bool convert() const;
  // The same in the order of `names`, which lists every row once: for a
  // function whose argument errors come in another order than its
  // parameters (a name that is not a row's is a programming error).
  bool convert(std::initializer_list<std::string_view> names) const;

 private:
  const char* function_;
  std::span<const Argument> rows_;
  Bound bound_;
};

// Parameter converters. Each returns false with a TypeError (or the
// interpreter's own error) set and the note for `parameter` attached. The
// value must not be nullptr: omitted parameters are the caller's business.

// A str, as its UTF-8 contents; the view lives as long as the object.
bool to_text(PyObject* value, std::string_view parameter, std::string_view& out);
// Anything the interpreter turns into a float (float, int, __float__, __index__).
bool to_float(PyObject* value, std::string_view parameter, double& out);
// True, False or a NumPy boolean scalar; integers are refused.
bool to_bool(PyObject* value, std::string_view parameter, bool& out);
// An exact instance of a module class (the classes cannot be subclassed).
bool check_instance(PyObject* value, std::string_view parameter, PyTypeObject* type,
                    std::string_view class_name);
// Any sequence (PySequence_Check or a registered collections.abc.Sequence),
// never a str, whose items are all str.
bool to_text_list(PyObject* value, std::string_view parameter, std::vector<std::string>& out);
// A str, for parameters whose default is None or that have no default
// text: the variable stays std::nullopt when the parameter is omitted.
bool to_optional_text(PyObject* value, std::string_view parameter,
                      std::optional<std::string_view>& out);
// Any object, kept as it is (borrowed) for a conversion after the others:
// name-like parameters are read once the earlier names have been parsed.
bool keep_object(PyObject* value, std::string_view parameter, PyObject*& out);

// Sets TypeError (without the note) unless the object is a sequence
// (PySequence_Check or registered as collections.abc.Sequence) and not a
// str; `item_class` names what the items should be.
bool check_sequence(PyObject* value, std::string_view item_class);

// Walks a sequence in order, calling `item(object)` (which returns false
// with an exception set) for each element; any failure gets the note.
template <class Item>
bool for_each_item(PyObject* value, std::string_view parameter, std::string_view item_class,
                   Item&& item) {
  if (!check_sequence(value, item_class)) {
    add_processing_note(parameter);
    return false;
  }
  const Py_ssize_t size = PySequence_Size(value);
  if (size < 0) {
    add_processing_note(parameter);
    return false;
  }
  for (Py_ssize_t index = 0; index < size; ++index) {
    Ref element = Ref::steal(PySequence_GetItem(value, index));
    if (!element || !item(element.get())) {
      add_processing_note(parameter);
      return false;
    }
  }
  return true;
}

// "'{type}' object is not an instance of '{target}'" as TypeError, without the note.
PyObject* not_an_instance(PyObject* value, std::string_view target);

}  // namespace tarvex::python
