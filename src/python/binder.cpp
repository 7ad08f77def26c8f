#include "python/binder.hpp"

#include <array>
#include <cstring>
#include <stdexcept>

#include "python/errors.hpp"

namespace tarvex::python {

// Mirrors the argument handling of a Python function in CPython 3.11
// (initialize_locals in ceval.c): positional arguments are placed first,
// then keywords are matched in the order given (unknown and duplicate
// keywords fail there), then an excess of positional arguments is reported,
// then missing required parameters.
class Binder {
 public:
  Binder(const char* function, std::span<const Argument> rows, Bound& bound)
      : function_(function), rows_(rows), bound_(bound) {
    // A signature wider than Bound is a programming error of the module; it
    // surfaces as PanicException rather than as a buffer overrun.
    if (size() > MAX_PARAMETERS) throw std::logic_error("signature has too many parameters");
  }

  void place_positional(PyObject* const* args, Py_ssize_t nargs) noexcept {
    const auto count = static_cast<std::size_t>(nargs);
    const std::size_t placed = count < size() ? count : size();
    for (std::size_t index = 0; index < placed; ++index) bound_.values_[index] = args[index];
    given_ = count;
  }

  bool place_keyword(PyObject* key, PyObject* value) noexcept {
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "%s keywords must be strings", function_);
      return false;
    }
    const std::size_t index = find(key);
    if (index == size()) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                   function_, key);
      return false;
    }
    if (bound_.values_[index] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%S'", function_, key);
      return false;
    }
    bound_.values_[index] = value;
    return true;
  }

  bool finish() {
    if (given_ > size()) return too_many_positional();
    const std::size_t required = required_count();
    std::size_t missing = 0;
    for (std::size_t index = given_; index < required; ++index) {
      if (bound_.values_[index] == nullptr) ++missing;
    }
    if (missing != 0) return missing_arguments(missing, required);
    for (std::size_t index = 0; index < size(); ++index) {
      if (rows_[index].fallback == Default::None &&
          bound_.values_[index] == Py_None) {
        bound_.values_[index] = nullptr;
      }
    }
    return true;
  }

 private:
  std::size_t size() const noexcept { return rows_.size(); }

  std::size_t required_count() const noexcept {
    std::size_t count = 0;
    while (count < size() && rows_[count].fallback == Default::Required) ++count;
    return count;
  }

  // Keyword names are compared as UTF-8; for the usual ASCII keyword the
  // interpreter hands out its own buffer, so nothing is allocated.
  std::size_t find(PyObject* key) const noexcept {
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &length);
    if (text == nullptr) {
      PyErr_Clear();  // unencodable names match nothing
      return size();
    }
    const std::string_view name(text, static_cast<std::size_t>(length));
    for (std::size_t index = 0; index < size(); ++index) {
      if (rows_[index].name == name) return index;
    }
    return size();
  }

  bool too_many_positional() const {
    const std::size_t required = required_count();
    const char* verb = given_ == 1 ? "was" : "were";
    if (required != size()) {
      PyErr_Format(PyExc_TypeError,
                   "%s takes from %zu to %zu positional arguments but %zu %s given",
                   function_, required, size(), given_, verb);
    } else {
      PyErr_Format(PyExc_TypeError, "%s takes %zu positional argument%s but %zu %s given",
                   function_, size(), size() == 1 ? "" : "s", given_, verb);
    }
    return false;
  }

  bool missing_arguments(std::size_t missing, std::size_t required) const {
    // 'a' / 'a' and 'b' / 'a', 'b', and 'c', as the interpreter joins them.
    std::string names;
    std::size_t listed = 0;
    for (std::size_t index = given_; index < required; ++index) {
      if (bound_.values_[index] != nullptr) continue;
      if (listed > 0) {
        if (missing == 2) {
          names += " and ";
        } else {
          names += listed + 1 == missing ? ", and " : ", ";
        }
      }
      names += '\'';
      names += rows_[index].name;
      names += '\'';
      ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s",
                 function_, missing, missing == 1 ? "" : "s", names.c_str());
    return false;
  }

  const char* function_;
  std::span<const Argument> rows_;
  Bound& bound_;
  std::size_t given_ = 0;
};

namespace {

// Vectorcall arguments (the fast path: no dicts, no temporary objects).
bool bind_vector(const char* function, std::span<const Argument> rows, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames, Bound& bound) {
  Binder binder(function, rows, bound);
  binder.place_positional(args, nargs);
  if (kwnames != nullptr) {
    const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t index = 0; index < count; ++index) {
      if (!binder.place_keyword(PyTuple_GET_ITEM(kwnames, index), args[nargs + index])) {
        return false;
      }
    }
  }
  return binder.finish();
}

// tp_new arguments: a tuple and an optional dict, bound by the same rules.
bool bind_tuple(const char* function, std::span<const Argument> rows, PyObject* args,
                PyObject* kwargs, Bound& bound) {
  Binder binder(function, rows, bound);
  // A tuple's items are contiguous, which is the vectorcall layout.
  binder.place_positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args));
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &key, &value)) {
      if (!binder.place_keyword(key, value)) return false;
    }
  }
  return binder.finish();
}

}  // namespace

bool Arguments::bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return bind_vector(function_, rows_, args, nargs, kwnames, bound_);
}

bool Arguments::bind(PyObject* args, PyObject* kwargs) {
  return bind_tuple(function_, rows_, args, kwargs, bound_);
}

bool Arguments::convert() const {
  for (std::size_t index = 0; index < rows_.size(); ++index) {
    if (bound_.given(index) && !rows_[index].convert(bound_[index])) return false;
  }
  return true;
}

bool Arguments::convert(std::initializer_list<std::string_view> names) const {
  // Surfaces as PanicException, like a signature wider than Bound.
  if (names.size() != rows_.size()) throw std::logic_error("conversion order must list every row");
  std::array<bool, MAX_PARAMETERS> listed{};
  for (std::string_view name : names) {
    std::size_t index = 0;
    while (index < rows_.size() && rows_[index].name != name) ++index;
    if (index == rows_.size() || listed[index]) {
      throw std::logic_error("conversion order must list every row once");
    }
    listed[index] = true;
    if (bound_.given(index) && !rows_[index].convert(bound_[index])) return false;
  }
  return true;
}

namespace {

// The type's own name without its module: 'int', 'Instant', 'float64'.
Ref type_name(PyObject* value) { return Ref::steal(PyType_GetQualName(Py_TYPE(value))); }

bool is_numpy_bool(PyObject* value) {
  // NumPy 2 calls its scalar numpy.bool, NumPy 1 numpy.bool_; matching the
  // name avoids importing NumPy for a boolean.
  const char* name = Py_TYPE(value)->tp_name;
  return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

// collections.abc.Sequence, imported on first need and kept for the life of
// the process.
PyObject* abc_sequence = nullptr;

int is_registered_sequence(PyObject* value) {
  if (abc_sequence == nullptr) {
    Ref abc = Ref::steal(PyImport_ImportModule("collections.abc"));
    if (!abc) return -1;
    PyObject* sequence = PyObject_GetAttrString(abc.get(), "Sequence");
    if (sequence == nullptr) return -1;
    if (abc_sequence == nullptr) {
      abc_sequence = sequence;
    } else {
      Py_DECREF(sequence);  // the import ran Python code that got here first
    }
  }
  return PyObject_IsInstance(value, abc_sequence);
}

}  // namespace

PyObject* not_an_instance(PyObject* value, std::string_view target) {
  Ref name = type_name(value);
  if (!name) return nullptr;
  const std::string target_text(target);  // 3.11's formatter has no %.*s
  return PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(),
                      target_text.c_str());
}

bool to_text(PyObject* value, std::string_view parameter, std::string_view& out) {
  if (!PyUnicode_Check(value)) {
    not_an_instance(value, "str");
    add_processing_note(parameter);
    return false;
  }
  Py_ssize_t length = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &length);
  if (text == nullptr) {  // lone surrogates have no UTF-8 form
    add_processing_note(parameter);
    return false;
  }
  out = std::string_view(text, static_cast<std::size_t>(length));
  return true;
}

bool to_float(PyObject* value, std::string_view parameter, double& out) {
  const double result = PyFloat_AsDouble(value);
  if (result == -1.0 && PyErr_Occurred()) {
    add_processing_note(parameter);
    return false;
  }
  out = result;
  return true;
}

bool to_bool(PyObject* value, std::string_view parameter, bool& out) {
  if (value == Py_True || value == Py_False) {
    out = value == Py_True;
    return true;
  }
  if (is_numpy_bool(value)) {
    const int truth = PyObject_IsTrue(value);
    if (truth >= 0) {
      out = truth == 1;
      return true;
    }
  } else {
    not_an_instance(value, "bool");
  }
  add_processing_note(parameter);
  return false;
}

bool check_instance(PyObject* value, std::string_view parameter, PyTypeObject* type,
                    std::string_view class_name) {
  if (Py_IS_TYPE(value, type)) return true;
  if (value == Py_None) {
    const std::string target_text(class_name);
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", target_text.c_str());
  } else {
    not_an_instance(value, class_name);
  }
  add_processing_note(parameter);
  return false;
}

bool check_sequence(PyObject* value, std::string_view item_class) {
  if (PyUnicode_Check(value)) {
    const std::string target_text(item_class);
    PyErr_Format(PyExc_TypeError, "a single 'str' is not accepted as a sequence of '%s'",
                 target_text.c_str());
    return false;
  }
  if (PySequence_Check(value)) return true;
  const int registered = is_registered_sequence(value);
  if (registered < 0) return false;
  if (registered == 0) {
    not_an_instance(value, "Sequence");
    return false;
  }
  return true;
}

bool to_optional_text(PyObject* value, std::string_view parameter,
                      std::optional<std::string_view>& out) {
  std::string_view text;
  if (!to_text(value, parameter, text)) return false;
  out = text;
  return true;
}

bool keep_object(PyObject* value, std::string_view, PyObject*& out) {
  out = value;
  return true;
}

bool to_text_list(PyObject* value, std::string_view parameter, std::vector<std::string>& out) {
  out.clear();
  return for_each_item(value, parameter, "str", [&](PyObject* item) {
    if (!PyUnicode_Check(item)) {
      not_an_instance(item, "str");
      return false;
    }
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item, &length);
    if (text == nullptr) return false;
    out.emplace_back(text, static_cast<std::size_t>(length));
    return true;
  });
}

}  // namespace tarvex::python
