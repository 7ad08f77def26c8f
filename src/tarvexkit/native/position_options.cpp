#include "tarvexkit/native/position_options.hpp"

#include <string>

#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/names.hpp"

namespace tarvex::kit {

namespace {

using python::Ref;

// The tarvex class, looked up through the module as any Python caller would.
Ref position_options_class() {
  // Usually imported already: sys.modules is much cheaper than the import
  // machinery on every call.
  Ref name = Ref::steal(PyUnicode_FromString("tarvex"));
  if (!name) return {};
  Ref module = Ref::steal(PyImport_GetModule(name.get()));
  if (!module && !PyErr_Occurred()) module = Ref::steal(PyImport_Import(name.get()));
  if (!module) return {};
  return Ref::steal(PyObject_GetAttrString(module.get(), "PositionOptions"));
}

bool text_attribute(PyObject* object, const char* name, std::string& out) {
  Ref value = Ref::steal(PyObject_GetAttrString(object, name));
  if (!value) return false;
  Py_ssize_t length = 0;
  const char* text =
      PyUnicode_Check(value.get()) ? PyUnicode_AsUTF8AndSize(value.get(), &length) : nullptr;
  if (text == nullptr) {
    if (!PyErr_Occurred())
      python::type_error(std::string("PositionOptions.") + name + " is not a str");
    return false;
  }
  out.assign(text, static_cast<std::size_t>(length));
  return true;
}

bool bool_attribute(PyObject* object, const char* name, bool& out) {
  Ref value = Ref::steal(PyObject_GetAttrString(object, name));
  if (!value) return false;
  const int truth = PyObject_IsTrue(value.get());
  if (truth < 0) return false;
  out = truth != 0;
  return true;
}

bool float_attribute(PyObject* object, const char* name, double& out) {
  Ref value = Ref::steal(PyObject_GetAttrString(object, name));
  if (!value) return false;
  out = PyFloat_AsDouble(value.get());
  return !(out == -1.0 && PyErr_Occurred());
}

template <class T>
bool named(const python::Parsed<T>& parsed, T& out) {
  if (!parsed) {
    python::value_error(parsed.error());
    return false;
  }
  out = *parsed;
  return true;
}

bool read_attributes(PyObject* value, core::PositionOptions& out) {
  std::string origin;
  std::string coordinate_system;
  std::string reference_epoch;
  core::OriginKind kind{};
  if (!text_attribute(value, "origin", origin) || !named(python::parse_origin_kind(origin), kind))
    return false;
  out.origin.kind = kind;
  if (kind == core::OriginKind::Topocentric) {
    Ref observer = Ref::steal(PyObject_GetAttrString(value, "observer"));
    if (!observer) return false;
    core::GeodeticObserver& site = out.origin.observer;
    if (!float_attribute(observer.get(), "longitude_east_deg", site.longitude_east_deg) ||
        !float_attribute(observer.get(), "latitude_deg", site.latitude_deg) ||
        !float_attribute(observer.get(), "height_m", site.height_m)) {
      return false;
    }
  }
  return text_attribute(value, "coordinate_system", coordinate_system) &&
         named(python::parse_coordinate_system(coordinate_system), out.coordinate_system) &&
         text_attribute(value, "reference_epoch", reference_epoch) &&
         named(python::parse_reference_epoch(reference_epoch), out.reference_epoch) &&
         bool_attribute(value, "apparent", out.apparent) &&
         bool_attribute(value, "true_ecliptic", out.true_ecliptic);
}

}  // namespace

bool read_position_options(PyObject* value, std::string_view parameter,
                           core::PositionOptions& out) {
  Ref type = position_options_class();
  if (!type) return false;
  if (!PyType_Check(type.get())) {
    python::type_error("tarvex.PositionOptions is not a class");
    return false;
  }
  if (!python::check_instance(value, parameter, reinterpret_cast<PyTypeObject*>(type.get()),
                              "PositionOptions")) {
    return false;
  }
  out = core::PositionOptions{};
  if (!read_attributes(value, out)) {
    python::add_processing_note(parameter);
    return false;
  }
  return true;
}

}  // namespace tarvex::kit
