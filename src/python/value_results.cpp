// Position, DateRange and KernelMetadata: what the engine returns about a
// body and about itself. None of them can be instantiated from Python.
#include <string>

#include "core/format.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"

namespace tarvex::python {

namespace {

PyObject* text_object(const std::string& text) { return new_text(text); }

// --------------------------------------------------------------- Position

const core::Position& position_value(PyObject* self) { return unbox<core::Position>(self); }

PyObject* position_repr(PyObject* self) {
  const core::Position& position = position_value(self);
  std::string text = "Position(longitude_deg=";
  core::append_plain_float(text, position.longitude_deg);
  text += ", latitude_deg=";
  core::append_plain_float(text, position.latitude_deg);
  text += ", distance_au=";
  core::append_plain_float(text, position.distance_au);
  text += ", longitude_speed_deg_per_day=";
  core::append_plain_float(text, position.longitude_speed_deg_per_day);
  text += ')';
  return text_object(text);
}

PyObject* position_longitude(PyObject* self) {
  return PyFloat_FromDouble(position_value(self).longitude_deg);
}
PyObject* position_latitude(PyObject* self) {
  return PyFloat_FromDouble(position_value(self).latitude_deg);
}
PyObject* position_distance(PyObject* self) {
  return PyFloat_FromDouble(position_value(self).distance_au);
}
PyObject* position_speed(PyObject* self) {
  return PyFloat_FromDouble(position_value(self).longitude_speed_deg_per_day);
}

PyGetSetDef POSITION_GETSET[] = {
    {"longitude_deg", getter_entry<position_longitude>, nullptr, nullptr, nullptr},
    {"latitude_deg", getter_entry<position_latitude>, nullptr, nullptr, nullptr},
    {"distance_au", getter_entry<position_distance>, nullptr, nullptr, nullptr},
    {"longitude_speed_deg_per_day", getter_entry<position_speed>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot POSITION_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Spherical position returned by a scalar request.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::Position>)},
    {Py_tp_repr, slot_function(unary_entry<position_repr>)},
    {Py_tp_getset, POSITION_GETSET},
    {0, nullptr},
};

PyType_Spec POSITION_SPEC = {
    .name = "tarvex.Position",
    .basicsize = sizeof(Boxed<core::Position>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = POSITION_SLOTS,
};

// -------------------------------------------------------------- DateRange

struct DateRange {
  double start_julian_day;
  double end_julian_day;
  core::TimeScale time_scale;
};

const DateRange& range_value(PyObject* self) { return unbox<DateRange>(self); }

PyObject* range_repr(PyObject* self) {
  const DateRange& range = range_value(self);
  std::string text = "DateRange(start_julian_day=";
  core::append_plain_float(text, range.start_julian_day);
  text += ", end_julian_day=";
  core::append_plain_float(text, range.end_julian_day);
  text += ", time_scale=";
  core::append_quoted_text(text, canonical_name(range.time_scale));
  text += ')';
  return text_object(text);
}

PyObject* range_start(PyObject* self) {
  return PyFloat_FromDouble(range_value(self).start_julian_day);
}
PyObject* range_end(PyObject* self) { return PyFloat_FromDouble(range_value(self).end_julian_day); }
PyObject* range_scale(PyObject* self) {
  return new_text(canonical_name(range_value(self).time_scale));
}

PyGetSetDef RANGE_GETSET[] = {
    {"start_julian_day", getter_entry<range_start>, nullptr, nullptr, nullptr},
    {"end_julian_day", getter_entry<range_end>, nullptr, nullptr, nullptr},
    {"time_scale", getter_entry<range_scale>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot RANGE_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Inclusive kernel coverage in the declared time scale.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<DateRange>)},
    {Py_tp_repr, slot_function(unary_entry<range_repr>)},
    {Py_tp_getset, RANGE_GETSET},
    {0, nullptr},
};

PyType_Spec RANGE_SPEC = {
    .name = "tarvex.DateRange",
    .basicsize = sizeof(Boxed<DateRange>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = RANGE_SLOTS,
};

// --------------------------------------------------------- KernelMetadata

const core::EphemerisMetadata& metadata_value(PyObject* self) {
  return unbox<core::EphemerisMetadata>(self);
}

PyObject* metadata_repr(PyObject* self) {
  const core::EphemerisMetadata& metadata = metadata_value(self);
  std::string text = "KernelMetadata(kernel_name=";
  core::append_quoted_text(text, metadata.kernel_name);
  text += ", kernel_sha256=";
  core::append_quoted_text(text, metadata.kernel_sha256);
  text += ')';
  return text_object(text);
}

// A new list of (name, sha256) tuples in attachment order.
PyObject* metadata_additional_kernels(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  Arguments arguments("KernelMetadata.additional_kernels()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  return additional_kernel_list(metadata_value(self));
}

PyObject* metadata_as_dict(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  Arguments arguments("KernelMetadata.as_dict()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  return metadata_dict(metadata_value(self));
}

PyObject* metadata_engine_version(PyObject* self) {
  return new_text(metadata_value(self).engine_version);
}
PyObject* metadata_kernel_name(PyObject* self) {
  return new_text(metadata_value(self).kernel_name);
}
PyObject* metadata_kernel_sha256(PyObject* self) {
  return new_text(metadata_value(self).kernel_sha256);
}
PyObject* metadata_coordinate_frame(PyObject* self) {
  return new_text(metadata_value(self).coordinate_frame);
}

PyMethodDef METADATA_METHODS[] = {
    {"additional_kernels", as_cfunction<metadata_additional_kernels>(),
     METH_FASTCALL | METH_KEYWORDS, "additional_kernels($self)\n--\n\n"},
    {"as_dict", as_cfunction<metadata_as_dict>(), METH_FASTCALL | METH_KEYWORDS,
     "as_dict($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef METADATA_GETSET[] = {
    {"engine_version", getter_entry<metadata_engine_version>, nullptr, nullptr, nullptr},
    {"kernel_name", getter_entry<metadata_kernel_name>, nullptr, nullptr, nullptr},
    {"kernel_sha256", getter_entry<metadata_kernel_sha256>, nullptr, nullptr, nullptr},
    {"coordinate_frame", getter_entry<metadata_coordinate_frame>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot METADATA_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>("Provenance recorded when the kernel was opened.")},
    {Py_tp_dealloc, slot_function(dealloc_boxed<core::EphemerisMetadata>)},
    {Py_tp_repr, slot_function(unary_entry<metadata_repr>)},
    {Py_tp_methods, METADATA_METHODS},
    {Py_tp_getset, METADATA_GETSET},
    {0, nullptr},
};

PyType_Spec METADATA_SPEC = {
    .name = "tarvex.KernelMetadata",
    .basicsize = sizeof(Boxed<core::EphemerisMetadata>),
    .itemsize = 0,
    .flags = RESULT_CLASS_FLAGS,
    .slots = METADATA_SLOTS,
};

// The four attributes come before the two methods.
constexpr const char* METADATA_MEMBER_ORDER[] = {
    "engine_version",     "kernel_name", "kernel_sha256", "coordinate_frame",
    "additional_kernels", "as_dict",     nullptr,
};

}  // namespace

ClassSlot position_class{&POSITION_SPEC};
ClassSlot date_range_class{&RANGE_SPEC};
ClassSlot kernel_metadata_class{&METADATA_SPEC, nullptr, METADATA_MEMBER_ORDER};

PyObject* new_position(const core::Position& position) {
  return box(position_class.type, position);
}

PyObject* new_date_range(double start_julian_day, double end_julian_day,
                         core::TimeScale time_scale) {
  return box(date_range_class.type, DateRange{start_julian_day, end_julian_day, time_scale});
}

PyObject* new_kernel_metadata(const core::EphemerisMetadata& metadata) {
  return box(kernel_metadata_class.type, metadata);
}

}  // namespace tarvex::python
