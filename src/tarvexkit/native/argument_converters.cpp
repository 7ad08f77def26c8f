// Converters for Argument rows shared by the toolkit module's functions.
#include "tarvexkit/native/argument_converters.hpp"

#include <cmath>
#include <string>

#include "python/binder.hpp"
#include "python/errors.hpp"

namespace tarvex::kit {

bool to_house_method(PyObject* value, std::string_view parameter, core::HouseMethod& out) {
  std::string_view name;
  if (!python::to_text(value, parameter, name)) return false;
  const auto method = core::house_method_from_name(name);
  if (!method) {
    python::value_error("unknown house system '" + std::string(name) + "'");
    return false;
  }
  out = *method;
  return true;
}

bool to_sidereal_zodiac(PyObject* value, std::string_view parameter,
                        const SiderealZodiac*& out) {
  std::string_view name;
  if (!python::to_text(value, parameter, name)) return false;
  const auto index = sidereal_zodiac_index(name);
  if (!index) {
    python::value_error("unknown ayanamsha '" + std::string(name) + "'");
    return false;
  }
  out = &sidereal_zodiacs()[*index];
  return true;
}

bool to_step_days(PyObject* value, std::string_view parameter, double& out) {
  if (!python::to_float(value, parameter, out)) return false;
  if (!(std::isfinite(out) && out > 0.0)) {
    python::value_error(std::string(parameter) + " must be a positive number of days");
    return false;
  }
  return true;
}

}  // namespace tarvex::kit
