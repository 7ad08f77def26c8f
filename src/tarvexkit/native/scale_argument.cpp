#include "tarvexkit/native/scale_argument.hpp"

#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/names.hpp"

namespace tarvex::kit {

bool to_time_scale(PyObject* value, std::string_view parameter, core::TimeScale& out) {
  std::string_view text;
  if (!python::to_text(value, parameter, text)) return false;
  const auto scale = python::parse_time_scale(text);
  if (!scale) {
    python::value_error(scale.error());
    return false;
  }
  out = *scale;
  return true;
}

}  // namespace tarvex::kit
