#include "python/convert.hpp"

#include <cmath>
#include <utility>

#include "core/observer.hpp"
#include "python/errors.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"

namespace tarvex::python {

Parsed<core::Origin> parse_origin(std::string_view name,
                                  const std::optional<core::GeodeticObserver>& observer) {
  const Parsed<core::OriginKind> kind = parse_origin_kind(name);
  if (!kind) return std::unexpected(kind.error());
  if (*kind == core::OriginKind::Topocentric) {
    if (!observer) {
      return std::unexpected(std::string("origin \"topocentric\" requires a GeodeticObserver"));
    }
    const auto valid = core::validate(*observer);
    if (!valid) return std::unexpected(std::string(core::message(valid.error())));
    return core::Origin::topocentric(*valid);
  }
  if (observer) {
    return std::unexpected(std::string("observer is only valid with origin \"topocentric\""));
  }
  return core::Origin{*kind, {}};
}

std::optional<std::string> extract_name(PyObject* value) {
  Ref attribute;
  PyObject* text = value;
  if (!PyUnicode_Check(value)) {
    attribute = Ref::steal(PyObject_GetAttrString(value, "name"));
    if (!attribute || !PyUnicode_Check(attribute.get())) {
      PyErr_Clear();  // the attribute's own error is not what the caller needs
      value_error("expected a name string or an tarvex enum with a name attribute");
      return std::nullopt;
    }
    text = attribute.get();
  }
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text, &length);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(length));
}

std::optional<double> extract_julian_day(PyObject* value) {
  double julian_day = 0.0;
  if (is_instant(value)) {
    julian_day = instant_value(value).julian_day;
  } else {
    julian_day = PyFloat_AsDouble(value);
    if (julian_day == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      value_error("expected an Instant or a finite Julian day float");
      return std::nullopt;
    }
  }
  if (!std::isfinite(julian_day)) {
    value_error("Julian day must be finite");
    return std::nullopt;
  }
  return julian_day;
}

bool to_name(PyObject* value, std::string_view, std::string& out) {
  std::optional<std::string> name = extract_name(value);
  if (!name) return false;
  out = std::move(*name);
  return true;
}

bool to_julian_day(PyObject* value, std::string_view, double& out) {
  const std::optional<double> julian_day = extract_julian_day(value);
  if (!julian_day) return false;
  out = *julian_day;
  return true;
}

}  // namespace tarvex::python
