// The EarthRotation class. It keeps an spk::EngineTime without a range
// limit, so UT1 and TT of an instant come from the same conversion as the
// topocentric observer's, and the pole from the same interpolation of the
// table at the UTC that UT1 gives (EngineTime::observer_gcrs_state).
// Immutable after construction: calls from several threads may overlap.
#include "tarvexkit/native/earth_rotation.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "core/frames.hpp"
#include "core/local_horizon.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "spk/engine_time.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/scale_argument.hpp"
#include "tarvexkit/native/time_arrays.hpp"
#include "tarvexkit/native/without_gil.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Ref;

struct PyEarthRotation {
  PyObject_HEAD spk::EngineTime* time;
};

const spk::EngineTime& time_of(PyObject* self) noexcept {
  return *reinterpret_cast<PyEarthRotation*>(self)->time;
}

std::expected<spk::EngineTime, std::string> open_time(std::string_view lsk_path,
                                                      std::string_view lsk_sha,
                                                      std::string_view eop_path,
                                                      std::string_view eop_sha) {
  spk::EngineTime engine_time = unlimited_engine_time();
  auto kernel = time::LeapSecondKernel::open(lsk_path, lsk_sha);
  if (!kernel) return std::unexpected(kernel.error().message());
  auto table = time::EarthOrientationTable::open(eop_path, eop_sha);
  if (!table) return std::unexpected(table.error().message());
  engine_time.attach_time_kernels(std::move(*kernel), std::move(*table));
  return engine_time;
}

PyObject* earth_rotation_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  // The views stay valid for the call: the arguments are borrowed from it.
  std::string_view leap_seconds_path;
  std::string_view leap_seconds_sha256;
  std::string_view eop_path;
  std::string_view eop_sha256;
  const Argument parameters[] = {
      {"leap_seconds_path", python::to_text, leap_seconds_path},
      {"leap_seconds_sha256", python::to_text, leap_seconds_sha256},
      {"eop_path", python::to_text, eop_path},
      {"eop_sha256", python::to_text, eop_sha256},
  };
  Arguments arguments("EarthRotation.__new__()", parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;
  auto opened = without_gil([&] {
    return open_time(leap_seconds_path, leap_seconds_sha256, eop_path, eop_sha256);
  });
  if (!opened) return python::value_error(opened.error());
  auto time = std::make_unique<spk::EngineTime>(std::move(*opened));
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<PyEarthRotation*>(self)->time = time.release();
  return self;
}

}  // namespace

PyObject* new_earth_rotation(const spk::EngineTime& store_time) {
  if (!store_time.leap_seconds()) {
    return python::value_error("altitude and azimuth need a leap-second kernel; open the ephemeris with one");
  }
  if (!store_time.eop()) {
    return python::value_error(
        "altitude and azimuth need an Earth orientation table (UT1 and the pole); pass eop= to "
        "tarvexkit.open or install tarvex[data]");
  }
  PyTypeObject* type = python::ensure_class(earth_rotation_class);
  if (type == nullptr) return nullptr;
  auto time = std::make_unique<spk::EngineTime>(unlimited_engine_time(&store_time));
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<PyEarthRotation*>(self)->time = time.release();
  return self;
}

namespace {

void earth_rotation_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<PyEarthRotation*>(self)->time;
  type->tp_free(self);
  Py_DECREF(type);
}

// ------------------------------------------------------------ horizon

// Instants turned to the horizon between two looks at pending signals.
constexpr std::size_t HORIZON_CHUNK = std::size_t{1} << 14;

PyObject* horizon(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column days;
  core::TimeScale scale{};
  Column ra;
  Column dec;
  core::GeodeticObserver site;
  const Argument parameters[] = {
      {"julian_days", to_column, days},
      {"scale", to_time_scale, scale},
      {"right_ascension_deg", to_column, ra},
      {"declination_deg", to_column, dec},
      {"longitude_east_deg", python::to_float, site.longitude_east_deg},
      {"latitude_deg", python::to_float, site.latitude_deg},
      {"height_m", python::to_float, site.height_m},
  };
  Arguments arguments("EarthRotation.horizon()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::span<const double> day_values = days.values;
  const std::span<const double> ra_values = ra.values;
  const std::span<const double> dec_values = dec.values;
  const std::size_t instants = day_values.size();
  if (ra_values.size() != dec_values.size() ||
      (instants == 0 ? !ra_values.empty() : ra_values.size() % instants != 0)) {
    return python::value_error(
        "right_ascension_deg and declination_deg must hold the same whole number of values per "
        "instant");
  }
  const std::size_t bodies = instants == 0 ? 0 : ra_values.size() / instants;
  double* out = nullptr;
  const std::array<std::size_t, 3> shape{instants, bodies, 3};
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  const spk::EngineTime& engine_time = time_of(self);
  // Chunk by chunk, running signal handlers between chunks (Ctrl-C ends
  // the call with KeyboardInterrupt well within 0.2 s).
  for (std::size_t start = 0; start < instants; start += HORIZON_CHUNK) {
    const std::size_t count = std::min(HORIZON_CHUNK, instants - start);
    const std::size_t first = start * bodies;
    auto failure = without_gil([&] {
      return fill_horizon(engine_time, scale, day_values.subspan(start, count),
                          ra_values.subspan(first, count * bodies),
                          dec_values.subspan(first, count * bodies), site, bodies, out + 3 * first);
    });
    if (failure) {
      return python::value_error("julian_days[" + std::to_string(start + failure->index) +
                                 "]: " + failure->message);
    }
    if (PyErr_CheckSignals() != 0) return nullptr;
  }
  return result.release();
}

// ------------------------------------------------------------ orientation

// Columns of one row of `orientation`: UT1 and TT Julian days, the pole (x,
// y) in arcseconds, then (when asked) the ITRS -> GCRS rotation row by row.
constexpr std::size_t POLE_COLUMNS = 4;
constexpr std::size_t ORIENTATION_COLUMNS = 13;

std::optional<HorizonFailure> fill_orientation(const spk::EngineTime& engine_time, core::TimeScale scale,
                                               std::span<const double> days, bool celestial, double* out) {
  // The site at latitude 0, longitude 0 has east = ITRS y, north = ITRS z and
  // up = ITRS x: its horizon rotation holds the terrestrial axes in the true
  // equator and equinox of date, built by the very steps that place sites.
  const core::GeodeticObserver origin{};
  for (std::size_t i = 0; i < days.size(); ++i) {
    auto epochs = engine_time.earth_rotation_epochs(scale, days[i]);
    if (!epochs) return HorizonFailure{i, epochs.error().message()};
    const auto [ut1, tt] = *epochs;
    const auto& table = *engine_time.eop();
    auto utc = table.utc_julian_day_from_ut1(ut1);
    if (!utc) return HorizonFailure{i, utc.error().message()};
    auto pole = table.polar_motion_arcsec(*utc);
    if (!pole) return HorizonFailure{i, pole.error().message()};
    double* row = out + (celestial ? ORIENTATION_COLUMNS : POLE_COLUMNS) * i;
    row[0] = ut1;
    row[1] = tt;
    row[2] = pole->first;
    row[3] = pole->second;
    if (!celestial) continue;
    auto rotation = core::local_horizon_rotation(origin, ut1, tt, pole->first, pole->second);
    if (!rotation) return HorizonFailure{i, std::string(core::message(rotation.error()))};
    const core::OfDateRotation of_date = core::OfDateRotation::create(true, true, tt);
    const std::array<std::size_t, 3> axis_row{2, 0, 1};  // ITRS x, y, z among up, east, north
    for (std::size_t k = 0; k < 3; ++k) {
      core::CartesianState axis;
      axis.position = (*rotation)[axis_row[k]];
      auto gcrs = of_date.apply_inverse(axis);
      if (!gcrs) return HorizonFailure{i, std::string(core::message(gcrs.error()))};
      for (std::size_t r = 0; r < 3; ++r) row[4 + 3 * r + k] = gcrs->position[r];
    }
  }
  return std::nullopt;
}

PyObject* orientation(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column days;
  core::TimeScale scale{};
  bool celestial = true;
  const Argument parameters[] = {
      {"julian_days", to_column, days},
      {"scale", to_time_scale, scale},
      {"celestial", python::to_bool, celestial, python::Default::Value},
  };
  Arguments arguments("EarthRotation.orientation()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::span<const double> day_values = days.values;
  const std::size_t instants = day_values.size();
  const std::size_t columns = celestial ? ORIENTATION_COLUMNS : POLE_COLUMNS;
  double* out = nullptr;
  const std::array<std::size_t, 2> shape{instants, columns};
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  const spk::EngineTime& engine_time = time_of(self);
  for (std::size_t start = 0; start < instants; start += HORIZON_CHUNK) {
    const std::size_t count = std::min(HORIZON_CHUNK, instants - start);
    auto failure = without_gil([&] {
      return fill_orientation(engine_time, scale, day_values.subspan(start, count), celestial,
                              out + columns * start);
    });
    if (failure) {
      return python::value_error("julian_days[" + std::to_string(start + failure->index) +
                                 "]: " + failure->message);
    }
    if (PyErr_CheckSignals() != 0) return nullptr;
  }
  return result.release();
}

constexpr int METHOD = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef EARTH_ROTATION_METHODS[] = {
    {"horizon", python::as_cfunction<horizon>(), METHOD,
     "horizon($self, julian_days, scale, right_ascension_deg, declination_deg,\n"
     "        longitude_east_deg, latitude_deg, height_m)\n--\n\n"
     "Altitude, azimuth (from north through east) and hour angle (west of the\n"
     "meridian), degrees, as a float64 array (len(julian_days), bodies, 3) for\n"
     "places of date given as flat arrays of len(julian_days) * bodies values,\n"
     "instant by instant. UT1, TT and the pole as the topocentric observer has\n"
     "them; the first failing instant raises ValueError \"julian_days[i]: ...\"."},
    {"orientation", python::as_cfunction<orientation>(), METHOD,
     "orientation($self, julian_days, scale, celestial=True)\n--\n\n"
     "The Earth's orientation at each instant, a float64 array\n"
     "(len(julian_days), 13): UT1 and TT Julian days, the pole x and y in\n"
     "arcseconds, and the rotation from the ITRS to the GCRS (row by row) with\n"
     "the same sidereal time, pole and precession-nutation as the horizon;\n"
     "(len(julian_days), 4) without the rotation for celestial=False.\n"
     "The first failing instant raises ValueError \"julian_days[i]: ...\"."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot EARTH_ROTATION_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "EarthRotation(leap_seconds_path, leap_seconds_sha256, eop_path,\n"
                    "              eop_sha256)\n--\n\n"
                    "The time kernels of a store, opened again for horizon coordinates.")},
    {Py_tp_new, python::slot_function(python::new_entry<earth_rotation_new>)},
    {Py_tp_dealloc, python::slot_function(earth_rotation_dealloc)},
    {Py_tp_methods, EARTH_ROTATION_METHODS},
    {0, nullptr},
};

PyType_Spec EARTH_ROTATION_SPEC = {
    .name = "tarvexkit._native.EarthRotation",
    .basicsize = sizeof(PyEarthRotation),
    .itemsize = 0,
    .flags = python::CLASS_FLAGS,
    .slots = EARTH_ROTATION_SLOTS,
};

}  // namespace

python::ClassSlot earth_rotation_class{&EARTH_ROTATION_SPEC};

const spk::EngineTime* earth_rotation_time(PyObject* object) {
  PyTypeObject* type = python::ensure_class(earth_rotation_class);
  if (type == nullptr) return nullptr;
  if (!PyObject_TypeCheck(object, type)) {
    python::type_error("expected a tarvexkit._native.EarthRotation");
    return nullptr;
  }
  return &time_of(object);
}

std::optional<HorizonFailure> fill_horizon(const spk::EngineTime& engine_time, core::TimeScale scale,
                                    std::span<const double> days, std::span<const double> ra,
                                    std::span<const double> dec, const core::GeodeticObserver& site,
                                    std::size_t bodies, double* out) {
  for (std::size_t i = 0; i < days.size(); ++i) {
    auto epochs = engine_time.earth_rotation_epochs(scale, days[i]);
    if (!epochs) return HorizonFailure{i, epochs.error().message()};
    const auto [ut1, tt] = *epochs;
    const auto& table = *engine_time.eop();
    auto utc = table.utc_julian_day_from_ut1(ut1);
    if (!utc) return HorizonFailure{i, utc.error().message()};
    auto pole = table.polar_motion_arcsec(*utc);
    if (!pole) return HorizonFailure{i, pole.error().message()};
    auto rotation = core::local_horizon_rotation(site, ut1, tt, pole->first, pole->second);
    if (!rotation) return HorizonFailure{i, std::string(core::message(rotation.error()))};
    for (std::size_t j = 0; j < bodies; ++j) {
      const std::size_t k = i * bodies + j;
      const core::HorizonCoordinates h =
          core::horizon_from_equatorial(*rotation, site.latitude_deg, ra[k], dec[k]);
      out[3 * k] = h.altitude_deg;
      out[3 * k + 1] = h.azimuth_deg;
      out[3 * k + 2] = h.hour_angle_deg;
    }
  }
  return std::nullopt;
}


}  // namespace tarvex::kit
