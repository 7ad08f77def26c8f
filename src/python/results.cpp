#include "python/results.hpp"

#include <string>

#include "core/format.hpp"
#include "python/binder.hpp"
#include "python/convert.hpp"
#include "python/enums.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"

namespace tarvex::python {

namespace {

// -------------------------------------------------------------- HouseCusps

const core::HouseCusps& cusps_value(PyObject* self) { return unbox<core::HouseCusps>(self); }

PyObject* cusps_repr(PyObject* self) {
  const core::HouseCusps& cusps = cusps_value(self);
  std::string text = "HouseCusps(system=";
  core::append_quoted_text(text, canonical_name(cusps.system));
  text += ", ascendant_deg=";
  core::append_plain_float(text, cusps.ascendant_deg);
  text += ", midheaven_deg=";
  core::append_plain_float(text, cusps.midheaven_deg);
  text += ')';
  return new_text(text);
}

PyObject* cusps_system(PyObject* self) { return new_house_system(cusps_value(self).system); }

// A new list on every read, so callers cannot change the stored cusps.
PyObject* cusps_longitudes(PyObject* self) {
  const auto& longitudes = cusps_value(self).cusp_ecliptic_longitude_deg;
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(longitudes.size())));
  if (!list) return nullptr;
  for (std::size_t index = 0; index < longitudes.size(); ++index) {
    PyObject* value = PyFloat_FromDouble(longitudes[index]);
    if (value == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index), value);
  }
  return list.release();
}

template <double core::HouseCusps::*Field>
PyObject* cusps_float(PyObject* self) {
  return PyFloat_FromDouble(cusps_value(self).*Field);
}

PyGetSetDef CUSPS_GETSET[] = {
    {"system", getter_entry<cusps_system>, nullptr, nullptr, nullptr},
    {"cusp_ecliptic_longitude_deg", getter_entry<cusps_longitudes>, nullptr, nullptr, nullptr},
    {"ascendant_deg", getter_entry<cusps_float<&core::HouseCusps::ascendant_deg>>, nullptr, nullptr,
     nullptr},
    {"midheaven_deg", getter_entry<cusps_float<&core::HouseCusps::midheaven_deg>>, nullptr, nullptr,
     nullptr},
    {"ramc_deg", getter_entry<cusps_float<&core::HouseCusps::ramc_deg>>, nullptr, nullptr, nullptr},
    {"local_sidereal_time_deg",
     getter_entry<cusps_float<&core::HouseCusps::local_sidereal_time_deg>>, nullptr, nullptr,
     nullptr},
    {"true_obliquity_deg", getter_entry<cusps_float<&core::HouseCusps::true_obliquity_deg>>,
     nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot CUSPS_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Ecliptic longitudes of the twelve house cusps plus ASC/MC.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::HouseCusps>)},
    {Py_tp_repr, slot_function(unary_entry<cusps_repr>)},
    {Py_tp_getset, CUSPS_GETSET},
    {0, nullptr},
};

PyType_Spec CUSPS_SPEC = {
    .name = "tarvex.HouseCusps",
    .basicsize = sizeof(Boxed<core::HouseCusps>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = CUSPS_SLOTS,
};

// ---------------------------------------------------------- RiseSetTransit

struct RiseSetTransit {
  double transit_ut1_julian_day;
  std::optional<double> rise_ut1_julian_day;
  std::optional<double> set_ut1_julian_day;
};

const RiseSetTransit& rst_value(PyObject* self) { return unbox<RiseSetTransit>(self); }

PyObject* optional_float(std::optional<double> value) {
  if (!value) Py_RETURN_NONE;
  return PyFloat_FromDouble(*value);
}

PyObject* rst_repr(PyObject* self) {
  const RiseSetTransit& times = rst_value(self);
  std::string text = "RiseSetTransit(transit_ut1_julian_day=";
  core::append_plain_float(text, times.transit_ut1_julian_day);
  text += ", rise_ut1_julian_day=";
  text += core::optional_debug_float(times.rise_ut1_julian_day);
  text += ", set_ut1_julian_day=";
  text += core::optional_debug_float(times.set_ut1_julian_day);
  text += ')';
  return new_text(text);
}

PyObject* rst_transit(PyObject* self) {
  return PyFloat_FromDouble(rst_value(self).transit_ut1_julian_day);
}
PyObject* rst_rise(PyObject* self) { return optional_float(rst_value(self).rise_ut1_julian_day); }
PyObject* rst_set(PyObject* self) { return optional_float(rst_value(self).set_ut1_julian_day); }

PyGetSetDef RST_GETSET[] = {
    {"transit_ut1_julian_day", getter_entry<rst_transit>, nullptr, nullptr, nullptr},
    {"rise_ut1_julian_day", getter_entry<rst_rise>, nullptr, nullptr, nullptr},
    {"set_ut1_julian_day", getter_entry<rst_set>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot RST_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Same-day UT1 rise, set, and transit epochs.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<RiseSetTransit>)},
    {Py_tp_repr, slot_function(unary_entry<rst_repr>)},
    {Py_tp_getset, RST_GETSET},
    {0, nullptr},
};

PyType_Spec RST_SPEC = {
    .name = "tarvex.RiseSetTransit",
    .basicsize = sizeof(Boxed<RiseSetTransit>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = RST_SLOTS,
};

// ------------------------------------------------------------ HorizonEvent

struct HorizonEvent {
  double ut1_julian_day;
  core::HorizonEventKind kind;
};

const HorizonEvent& event_value(PyObject* self) { return unbox<HorizonEvent>(self); }

PyObject* event_repr(PyObject* self) {
  const HorizonEvent& event = event_value(self);
  std::string text = "HorizonEvent(kind=";
  core::append_quoted_text(text, canonical_name(event.kind));
  text += ", ut1_julian_day=";
  core::append_plain_float(text, event.ut1_julian_day);
  text += ')';
  return new_text(text);
}

PyObject* event_kind(PyObject* self) { return new_horizon_event_kind(event_value(self).kind); }
PyObject* event_time(PyObject* self) {
  return PyFloat_FromDouble(event_value(self).ut1_julian_day);
}

PyGetSetDef EVENT_GETSET[] = {
    {"kind", getter_entry<event_kind>, nullptr, nullptr, nullptr},
    {"ut1_julian_day", getter_entry<event_time>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot EVENT_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("One horizon event, as a UT1 Julian day.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<HorizonEvent>)},
    {Py_tp_repr, slot_function(unary_entry<event_repr>)},
    {Py_tp_getset, EVENT_GETSET},
    {0, nullptr},
};

PyType_Spec EVENT_SPEC = {
    .name = "tarvex.HorizonEvent",
    .basicsize = sizeof(Boxed<HorizonEvent>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = EVENT_SLOTS,
};

// ------------------------------------------------------------- house_cusps

PyObject* house_cusps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  core::GeodeticObserver observer;
  double ut1 = 0.0;
  double tt = 0.0;
  std::string name;
  // ut1 and tt take an Instant of any scale or a float; the scale is not
  // converted, the caller states which day is which.
  const Argument parameters[] = {
      {"observer", to_geodetic_observer, observer},
      {"ut1", to_julian_day, ut1},
      {"tt", to_julian_day, tt},
      {"system", to_name, name},
  };
  Arguments arguments("house_cusps()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const auto system = parse_house_system(name);
  if (!system) return value_error(system.error());
  const auto cusps = core::house_cusps(observer, ut1, tt, *system);
  if (!cusps) return map_coordinate_error(cusps.error());
  return new_house_cusps(*cusps);
}

}  // namespace

ClassSlot house_cusps_class{&CUSPS_SPEC};
ClassSlot rise_set_transit_class{&RST_SPEC};
ClassSlot horizon_event_class{&EVENT_SPEC};

PyMethodDef house_cusps_function = {
    "house_cusps", as_cfunction<house_cusps>(), METH_FASTCALL | METH_KEYWORDS,
    "house_cusps(observer, ut1, tt, system)\n--\n\n"
    "Ecliptic house cusps at a UT1/TT pair (no SPK kernel).\n\n"
    "`ut1` and `tt` may be [`PyInstant`] values or Julian-day floats. Polar\n"
    "motion is omitted, as in the core `house_cusps` operation."};

PyObject* new_house_cusps(const core::HouseCusps& cusps) {
  return box(house_cusps_class.type, cusps);
}

PyObject* new_rise_set_transit(double transit_ut1_julian_day,
                               std::optional<double> rise_ut1_julian_day,
                               std::optional<double> set_ut1_julian_day) {
  return box(rise_set_transit_class.type,
             RiseSetTransit{transit_ut1_julian_day, rise_ut1_julian_day, set_ut1_julian_day});
}

PyObject* new_horizon_event(double ut1_julian_day, core::HorizonEventKind kind) {
  return box(horizon_event_class.type, HorizonEvent{ut1_julian_day, kind});
}

}  // namespace tarvex::python
