// Instant, GeodeticObserver and PositionOptions, and the presets geometric()
// and apparent().
#include "python/values.hpp"

#include <cmath>
#include <string>

#include "core/format.hpp"
#include "core/observer.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"

namespace tarvex::python {

namespace {

PyObject* new_text_result(const std::string& text) { return new_text(text); }

// ---------------------------------------------------------------- Instant

PyObject* checked_instant(double julian_day, core::TimeScale scale) {
  if (!std::isfinite(julian_day)) return value_error("Julian day must be finite");
  return new_instant({julian_day, scale});
}

PyObject* instant_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  double julian_day = 0.0;
  std::string_view scale_name = "tdb";
  const Argument parameters[] = {
      {"julian_day", to_float, julian_day},
      {"time_scale", to_text, scale_name, Default::Value},
  };
  Arguments arguments("Instant.__new__()", parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;
  if (!std::isfinite(julian_day)) return value_error("Julian day must be finite");
  const auto scale = parse_time_scale(scale_name);
  if (!scale) return value_error(scale.error());
  return new_instant({julian_day, *scale});
}

// One class method per scale, bound like a one-parameter function named
// after the method; indexed by the scale's ordinal.
constexpr const char* SCALE_METHODS[] = {
    "Instant.utc()",
    "Instant.ut1()",
    "Instant.tt()",
    "Instant.tdb()",
};

template <core::TimeScale Scale>
PyObject* instant_in_scale(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  double julian_day = 0.0;
  const Argument parameters[] = {{"julian_day", to_float, julian_day}};
  Arguments arguments(SCALE_METHODS[static_cast<std::size_t>(Scale)], parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  return checked_instant(julian_day, Scale);
}

PyObject* instant_repr(PyObject* self) {
  const core::Instant& instant = instant_value(self);
  std::string text = "Instant(";
  core::append_debug_float(text, instant.julian_day);
  text += ", time_scale=";
  core::append_quoted_text(text, canonical_name(instant.time_scale));
  text += ')';
  return new_text_result(text);
}

PyObject* instant_julian_day(PyObject* self) {
  return PyFloat_FromDouble(instant_value(self).julian_day);
}
PyObject* instant_time_scale(PyObject* self) {
  return new_text(canonical_name(instant_value(self).time_scale));
}

constexpr int CLASS_METHOD = METH_FASTCALL | METH_KEYWORDS | METH_CLASS;

PyMethodDef INSTANT_METHODS[] = {
    {"tdb", as_cfunction<instant_in_scale<core::TimeScale::Tdb>>(), CLASS_METHOD,
     "tdb($cls, julian_day)\n--\n\n"},
    {"tt", as_cfunction<instant_in_scale<core::TimeScale::Tt>>(), CLASS_METHOD,
     "tt($cls, julian_day)\n--\n\n"},
    {"utc", as_cfunction<instant_in_scale<core::TimeScale::Utc>>(), CLASS_METHOD,
     "utc($cls, julian_day)\n--\n\n"},
    {"ut1", as_cfunction<instant_in_scale<core::TimeScale::Ut1>>(), CLASS_METHOD,
     "ut1($cls, julian_day)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef INSTANT_GETSET[] = {
    {"julian_day", getter_entry<instant_julian_day>, nullptr, nullptr, nullptr},
    {"time_scale", getter_entry<instant_time_scale>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot INSTANT_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Instant(julian_day, time_scale=\"tdb\")\n--\n\n"
                                  "Julian day with an explicit time scale.")},
    {Py_tp_new, slot_function(new_entry<instant_new>)},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::Instant>)},
    {Py_tp_repr, slot_function(unary_entry<instant_repr>)},
    {Py_tp_methods, INSTANT_METHODS},
    {Py_tp_getset, INSTANT_GETSET},
    {0, nullptr},
};

PyType_Spec INSTANT_SPEC = {
    .name = "tarvex.Instant",
    .basicsize = sizeof(Boxed<core::Instant>),
    .itemsize = 0,
    .flags = CLASS_FLAGS,
    .slots = INSTANT_SLOTS,
};

// ------------------------------------------------------- GeodeticObserver

PyObject* observer_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  core::GeodeticObserver observer;
  const Argument parameters[] = {
      {"longitude_east_deg", to_float, observer.longitude_east_deg},
      {"latitude_deg", to_float, observer.latitude_deg},
      {"height_m", to_float, observer.height_m, Default::Value},
  };
  Arguments arguments("GeodeticObserver.__new__()", parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;
  const auto valid = core::validate(observer);
  if (!valid) return map_coordinate_error(valid.error());
  return new_geodetic_observer(*valid);
}

PyObject* observer_repr(PyObject* self) {
  return new_text_result(geodetic_observer_repr(geodetic_observer_value(self)));
}

PyObject* observer_longitude(PyObject* self) {
  return PyFloat_FromDouble(geodetic_observer_value(self).longitude_east_deg);
}
PyObject* observer_latitude(PyObject* self) {
  return PyFloat_FromDouble(geodetic_observer_value(self).latitude_deg);
}
PyObject* observer_height(PyObject* self) {
  return PyFloat_FromDouble(geodetic_observer_value(self).height_m);
}

PyGetSetDef OBSERVER_GETSET[] = {
    {"longitude_east_deg", getter_entry<observer_longitude>, nullptr, nullptr, nullptr},
    {"latitude_deg", getter_entry<observer_latitude>, nullptr, nullptr, nullptr},
    {"height_m", getter_entry<observer_height>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot OBSERVER_SLOTS[] = {
    {Py_tp_doc,
     const_cast<char*>("GeodeticObserver(longitude_east_deg, latitude_deg, height_m=0.0)\n--\n\n"
                       "Geodetic site on Earth (east longitude, GRS80/ITRS, height in metres).")},
    {Py_tp_new, slot_function(new_entry<observer_new>)},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::GeodeticObserver>)},
    {Py_tp_repr, slot_function(unary_entry<observer_repr>)},
    {Py_tp_getset, OBSERVER_GETSET},
    {0, nullptr},
};

PyType_Spec OBSERVER_SPEC = {
    .name = "tarvex.GeodeticObserver",
    .basicsize = sizeof(Boxed<core::GeodeticObserver>),
    .itemsize = 0,
    .flags = CLASS_FLAGS,
    .slots = OBSERVER_SLOTS,
};

// -------------------------------------------------------- PositionOptions

PyObject* options_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  std::string_view origin;
  std::string_view coordinate_system;
  std::string_view reference_epoch = "j2000";
  core::PositionOptions options;
  core::Corrections& corrections = options.corrections;
  std::optional<core::GeodeticObserver> observer;
  const Argument parameters[] = {
      {"origin", to_text, origin},
      {"coordinate_system", to_text, coordinate_system},
      {"reference_epoch", to_text, reference_epoch, Default::Value},
      {"apparent", to_bool, options.apparent, Default::Value},
      {"true_ecliptic", to_bool, options.true_ecliptic, Default::Value},
      {"light_time", to_bool, corrections.light_time, Default::Value},
      {"aberration", to_bool, corrections.aberration, Default::Value},
      {"gravitational_deflection", to_bool, corrections.gravitational_deflection,
       Default::Value},
      {"precession", to_bool, corrections.precession, Default::Value},
      {"nutation", to_bool, corrections.nutation, Default::Value},
      {"observer", to_optional_geodetic_observer, observer, Default::None},
  };
  Arguments arguments("PositionOptions.__new__()", parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;

  const auto parsed_origin = parse_origin(origin, observer);
  if (!parsed_origin) return value_error(parsed_origin.error());
  const auto parsed_system = parse_coordinate_system(coordinate_system);
  if (!parsed_system) return value_error(parsed_system.error());
  const auto parsed_epoch = parse_reference_epoch(reference_epoch);
  if (!parsed_epoch) return value_error(parsed_epoch.error());
  options.origin = *parsed_origin;
  options.coordinate_system = *parsed_system;
  options.reference_epoch = *parsed_epoch;
  return new_position_options(options);
}

PyObject* options_repr(PyObject* self) {
  const core::PositionOptions& options = position_options_value(self);
  std::string text = "PositionOptions(origin=";
  core::append_quoted_text(text, canonical_name(options.origin.kind));
  if (options.origin.is_topocentric()) {
    text += ", observer=";
    text += geodetic_observer_repr(options.origin.observer);
  }
  text += ", coordinate_system=";
  core::append_quoted_text(text, canonical_name(options.coordinate_system));
  text += ", reference_epoch=";
  core::append_quoted_text(text, canonical_name(options.reference_epoch));
  text += ", apparent=";
  text += core::boolean_text(options.apparent);
  text += ')';
  return new_text_result(text);
}

PyObject* options_origin(PyObject* self) {
  return new_text(canonical_name(position_options_value(self).origin.kind));
}
PyObject* options_observer(PyObject* self) {
  const core::Origin& origin = position_options_value(self).origin;
  if (!origin.is_topocentric()) Py_RETURN_NONE;
  return new_geodetic_observer(origin.observer);
}
PyObject* options_coordinate_system(PyObject* self) {
  return new_text(canonical_name(position_options_value(self).coordinate_system));
}
PyObject* options_reference_epoch(PyObject* self) {
  return new_text(canonical_name(position_options_value(self).reference_epoch));
}
PyObject* options_apparent(PyObject* self) {
  return PyBool_FromLong(position_options_value(self).apparent);
}
PyObject* options_true_ecliptic(PyObject* self) {
  return PyBool_FromLong(position_options_value(self).true_ecliptic);
}

PyGetSetDef OPTIONS_GETSET[] = {
    {"origin", getter_entry<options_origin>, nullptr, nullptr, nullptr},
    {"observer", getter_entry<options_observer>, nullptr, nullptr, nullptr},
    {"coordinate_system", getter_entry<options_coordinate_system>, nullptr, nullptr, nullptr},
    {"reference_epoch", getter_entry<options_reference_epoch>, nullptr, nullptr, nullptr},
    {"apparent", getter_entry<options_apparent>, nullptr, nullptr, nullptr},
    {"true_ecliptic", getter_entry<options_true_ecliptic>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot OPTIONS_SLOTS[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "PositionOptions(origin, coordinate_system, reference_epoch=\"j2000\", apparent=False, "
         "true_ecliptic=False, light_time=False, aberration=False, "
         "gravitational_deflection=False, precession=False, nutation=False, observer=None)"
         "\n--\n\nExplicit geometric or apparent request options.")},
    {Py_tp_new, slot_function(new_entry<options_new>)},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::PositionOptions>)},
    {Py_tp_repr, slot_function(unary_entry<options_repr>)},
    {Py_tp_getset, OPTIONS_GETSET},
    {0, nullptr},
};

PyType_Spec OPTIONS_SPEC = {
    .name = "tarvex.PositionOptions",
    .basicsize = sizeof(Boxed<core::PositionOptions>),
    .itemsize = 0,
    .flags = CLASS_FLAGS,
    .slots = OPTIONS_SLOTS,
};

// ---------------------------------------------------------------- presets

template <bool Apparent>
PyObject* preset(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string_view origin = "geocentric";
  std::string_view coordinate_system = "ecliptic";
  std::optional<core::GeodeticObserver> observer;
  const Argument parameters[] = {
      {"origin", to_text, origin, Default::Value},
      {"coordinate_system", to_text, coordinate_system, Default::Value},
      {"observer", to_optional_geodetic_observer, observer, Default::None},
  };
  Arguments arguments(Apparent ? "apparent()" : "geometric()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const auto options = position_options_from_origin(origin, coordinate_system, observer, Apparent);
  if (!options) return value_error(options.error());
  return new_position_options(*options);
}

}  // namespace

ClassSlot instant_class{&INSTANT_SPEC};
ClassSlot geodetic_observer_class{&OBSERVER_SPEC};
ClassSlot position_options_class{&OPTIONS_SPEC};

PyMethodDef geometric_function = {
    "geometric", as_cfunction<preset<false>>(), METH_FASTCALL | METH_KEYWORDS,
    "geometric(origin=\"geocentric\", coordinate_system=\"ecliptic\", observer=None)\n--\n\n"
    "Geometric J2000 request with every correction switch off."};
PyMethodDef apparent_function = {
    "apparent", as_cfunction<preset<true>>(), METH_FASTCALL | METH_KEYWORDS,
    "apparent(origin=\"geocentric\", coordinate_system=\"ecliptic\", observer=None)\n--\n\n"
    "Apparent-place convenience at the true equinox/ecliptic of date."};

bool is_instant(PyObject* object) noexcept { return Py_IS_TYPE(object, instant_class.type); }
const core::Instant& instant_value(PyObject* instant) noexcept {
  return unbox<core::Instant>(instant);
}
PyObject* new_instant(core::Instant instant) { return box(instant_class.type, instant); }

bool to_instant(PyObject* value, std::string_view parameter, core::Instant& out) {
  if (!check_instance(value, parameter, instant_class.type, "Instant")) return false;
  out = instant_value(value);
  return true;
}

bool to_instant_list(PyObject* value, std::string_view parameter, std::vector<core::Instant>& out) {
  out.clear();
  return for_each_item(value, parameter, "Instant", [&](PyObject* item) {
    if (!is_instant(item)) {
      not_an_instance(item, "Instant");
      return false;
    }
    out.push_back(instant_value(item));
    return true;
  });
}

bool is_geodetic_observer(PyObject* object) noexcept {
  return Py_IS_TYPE(object, geodetic_observer_class.type);
}
const core::GeodeticObserver& geodetic_observer_value(PyObject* observer) noexcept {
  return unbox<core::GeodeticObserver>(observer);
}
PyObject* new_geodetic_observer(const core::GeodeticObserver& observer) {
  return box(geodetic_observer_class.type, observer);
}
bool to_geodetic_observer(PyObject* value, std::string_view parameter,
                          core::GeodeticObserver& out) {
  if (!check_instance(value, parameter, geodetic_observer_class.type, "GeodeticObserver")) {
    return false;
  }
  out = geodetic_observer_value(value);
  return true;
}
bool to_optional_geodetic_observer(PyObject* value, std::string_view parameter,
                                   std::optional<core::GeodeticObserver>& out) {
  out.reset();
  if (value == nullptr) return true;
  core::GeodeticObserver observer;
  if (!to_geodetic_observer(value, parameter, observer)) return false;
  out = observer;
  return true;
}

bool is_position_options(PyObject* object) noexcept {
  return Py_IS_TYPE(object, position_options_class.type);
}
const core::PositionOptions& position_options_value(PyObject* options) noexcept {
  return unbox<core::PositionOptions>(options);
}
PyObject* new_position_options(const core::PositionOptions& options) {
  return box(position_options_class.type, options);
}
bool to_position_options(PyObject* value, std::string_view parameter, core::PositionOptions& out) {
  if (!check_instance(value, parameter, position_options_class.type, "PositionOptions")) {
    return false;
  }
  out = position_options_value(value);
  return true;
}

Parsed<core::PositionOptions> position_options_from_origin(
    std::string_view origin, std::string_view coordinate_system,
    const std::optional<core::GeodeticObserver>& observer, bool apparent) {
  const auto parsed_origin = parse_origin(origin, observer);
  if (!parsed_origin) return std::unexpected(parsed_origin.error());
  const auto parsed_system = parse_coordinate_system(coordinate_system);
  if (!parsed_system) return std::unexpected(parsed_system.error());
  core::PositionOptions options;
  options.origin = *parsed_origin;
  options.coordinate_system = *parsed_system;
  options.reference_epoch = apparent ? core::ReferenceEpoch::OfDate : core::ReferenceEpoch::J2000;
  options.apparent = apparent;
  return options;
}

std::string geodetic_observer_repr(const core::GeodeticObserver& observer) {
  std::string text = "GeodeticObserver(longitude_east_deg=";
  core::append_plain_float(text, observer.longitude_east_deg);
  text += ", latitude_deg=";
  core::append_plain_float(text, observer.latitude_deg);
  text += ", height_m=";
  core::append_plain_float(text, observer.height_m);
  text += ')';
  return text;
}

}  // namespace tarvex::python
