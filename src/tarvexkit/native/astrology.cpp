// Astrology over arrays: thin loops over the core's pure functions. Inputs
// are one-dimensional float64 arrays of one length (the Python layer
// broadcasts them); outputs are new float64 arrays with one row per
// element. An element the core refuses gets NaN in its row and an entry
// (index, message) in a list returned beside the array, so a caller can
// raise for a scalar and mask an array without a second pass.
#include "tarvexkit/native/astrology.hpp"

#include <array>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "core/angles.hpp"
#include "core/ayanamshas.hpp"
#include "core/frames.hpp"
#include "core/house_systems.hpp"
#include "core/lunar_points.hpp"
#include "core/observer.hpp"
#include "core/sidereal.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "tarvexkit/native/arrays.hpp"

namespace tarvex::kit {

namespace {

using python::Bound;
using python::Parameter;
using python::Ref;
using python::Signature;

constexpr double NOT_DEFINED = std::numeric_limits<double>::quiet_NaN();
// Half-width of the central difference that gives the rate of a star-defined
// ayanamsha (a smooth function of time: the error is far below 1e-12 deg/day).
constexpr double STAR_RATE_STEP_DAYS = 1.0;

// The 1-D arrays of a call, bound and converted in parameter order; all of
// one length, else ValueError naming the first that differs.
class Arrays {
 public:
  bool add(PyObject* value, std::string_view parameter) {
    Ref array = julian_day_array(value, parameter);
    if (!array) return false;
    const std::span<const double> values = float64_values(array.get());
    if (!spans_.empty() && values.size() != spans_.front().size()) {
      python::value_error(std::string(parameter) + " has " + std::to_string(values.size()) +
                          " elements where " + std::to_string(spans_.front().size()) +
                          " are expected");
      return false;
    }
    spans_.push_back(values);
    owners_.push_back(std::move(array));
    return true;
  }
  std::span<const double> operator[](std::size_t index) const { return spans_[index]; }
  std::size_t length() const { return spans_.front().size(); }

 private:
  std::vector<Ref> owners_;
  std::vector<std::span<const double>> spans_;
};

// Collects the elements the core refused, as a list of (index, message).
class Failures {
 public:
  Failures() : list_(Ref::steal(PyList_New(0))) {}
  bool ok() const { return static_cast<bool>(list_); }
  bool add(std::size_t index, std::string_view message) {
    Ref item = Ref::steal(Py_BuildValue("(ns#)", static_cast<Py_ssize_t>(index), message.data(),
                                        static_cast<Py_ssize_t>(message.size())));
    return item && PyList_Append(list_.get(), item.get()) == 0;
  }
  // (array, failures), consuming both.
  PyObject* pair_with(Ref array) { return PyTuple_Pack(2, array.get(), list_.get()); }

 private:
  Ref list_;
};

bool to_name(PyObject* value, std::string_view parameter, std::string_view& out) {
  return python::to_text(value, parameter, out);
}

// A new (rows, columns) float64 array.
Ref new_table(std::size_t rows, std::size_t columns, double*& data) {
  const std::array<std::size_t, 2> shape{rows, columns};
  return new_float64_array(shape, data);
}

// ------------------------------------------------------------ house systems

constexpr Parameter HOUSE_CUSPS_PARAMETERS[] = {
    {"system"}, {"ramc_deg"}, {"latitude_deg"}, {"obliquity_deg"}};
constexpr Signature HOUSE_CUSPS{"house_cusps()", HOUSE_CUSPS_PARAMETERS};
constexpr std::size_t HOUSE_COLUMNS = 16;

PyObject* house_cusps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(HOUSE_CUSPS, args, nargs, kwnames, bound)) return nullptr;
  std::string_view name;
  if (!to_name(bound[0], "system", name)) return nullptr;
  const auto method = core::house_method_from_name(name);
  if (!method) return python::value_error("unknown house system '" + std::string(name) + "'");
  Arrays in;
  if (!in.add(bound[1], "ramc_deg") || !in.add(bound[2], "latitude_deg") ||
      !in.add(bound[3], "obliquity_deg")) {
    return nullptr;
  }
  double* out = nullptr;
  Ref table = new_table(in.length(), HOUSE_COLUMNS, out);
  Failures failures;
  if (!table || !failures.ok()) return nullptr;
  for (std::size_t i = 0; i < in.length(); ++i) {
    double* row = out + i * HOUSE_COLUMNS;
    const auto set = core::house_cusps_deg(*method, in[0][i], in[1][i], in[2][i]);
    if (!set) {
      std::fill(row, row + HOUSE_COLUMNS, NOT_DEFINED);
      if (!failures.add(i, set.error().message())) return nullptr;
      continue;
    }
    std::copy(set->cusp_deg.begin(), set->cusp_deg.end(), row);
    row[12] = set->ascendant_deg;
    row[13] = set->midheaven_deg;
    row[14] = set->vertex_deg;
    row[15] = set->equatorial_ascendant_deg;
  }
  return failures.pair_with(std::move(table));
}

constexpr Signature HOUSE_SYSTEMS{"house_systems()", {}};

PyObject* house_systems(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(HOUSE_SYSTEMS, args, nargs, kwnames, bound)) return nullptr;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const core::HouseMethodName& row : core::house_method_names()) {
    const char letter[] = {row.letter, '\0'};
    Ref item = Ref::steal(Py_BuildValue("(s#sO)", row.name.data(),
                                        static_cast<Py_ssize_t>(row.name.size()), letter,
                                        row.iterative ? Py_True : Py_False));
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

// ------------------------------------------------------------ the site's sky

constexpr Parameter SITE_SKY_PARAMETERS[] = {{"ut1"}, {"tt"}, {"longitude_east_deg"}};
constexpr Signature SITE_SKY{"site_sky()", SITE_SKY_PARAMETERS};

// RAMC (local apparent sidereal time), true obliquity and nutation in
// longitude, degrees: the very steps of core::house_cusps, so that cusps
// from these equal the strict module's for its four systems.
PyObject* site_sky(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(SITE_SKY, args, nargs, kwnames, bound)) return nullptr;
  Arrays in;
  if (!in.add(bound[0], "ut1") || !in.add(bound[1], "tt") ||
      !in.add(bound[2], "longitude_east_deg")) {
    return nullptr;
  }
  double* out = nullptr;
  Ref table = new_table(in.length(), 3, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < in.length(); ++i) {
    const double ut1 = in[0][i];
    const double tt = in[1][i];
    double* row = out + i * 3;
    if (!std::isfinite(ut1) || !std::isfinite(tt) || !std::isfinite(in[2][i])) {
      return python::value_error("ut1, tt and longitude_east_deg must be finite (element " +
                                 std::to_string(i) + ")");
    }
    const auto [dpsi, deps] = core::nutation_iau2000b(tt);
    const double ramc =
        core::normalize_radians(core::greenwich_apparent_sidereal_time_iau2006(ut1, tt, dpsi) +
                                in[2][i] * core::DEG_TO_RAD);
    row[0] = core::normalize_degrees(ramc * core::RAD_TO_DEG);
    row[1] = (core::mean_obliquity_iau2006(tt) + deps) * core::RAD_TO_DEG;
    row[2] = dpsi * core::RAD_TO_DEG;
  }
  return table.release();
}

// ------------------------------------------------------------ ayanamshas

constexpr Parameter AYANAMSHA_PARAMETERS[] = {{"name"}, {"tt"}};
constexpr Signature AYANAMSHA{"ayanamsha()", AYANAMSHA_PARAMETERS};

// (value, rate) in degrees and degrees per day at TT Julian days.
PyObject* ayanamsha(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(AYANAMSHA, args, nargs, kwnames, bound)) return nullptr;
  std::string_view name;
  if (!to_name(bound[0], "name", name)) return nullptr;
  const auto mode = core::ayanamsha_from_name(name);
  if (!mode) return python::value_error("unknown ayanamsha '" + std::string(name) + "'");
  const bool star = core::ayanamsha_definitions()[static_cast<std::size_t>(*mode)].kind ==
                    core::AyanamshaKind::StarAtLongitude;
  Arrays in;
  if (!in.add(bound[1], "tt")) return nullptr;
  double* out = nullptr;
  Ref table = new_table(in.length(), 2, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < in.length(); ++i) {
    const double tt = in[0][i];
    const auto value = core::ayanamsha_deg(*mode, tt);
    if (!value) return python::map_coordinate_error(value.error());
    double rate = 0.0;
    if (star) {
      const auto before = core::ayanamsha_deg(*mode, tt - STAR_RATE_STEP_DAYS);
      const auto after = core::ayanamsha_deg(*mode, tt + STAR_RATE_STEP_DAYS);
      if (!before || !after)
        return python::map_coordinate_error(core::CoordinateError::NonFiniteState);
      rate = (*after - *before) / (2.0 * STAR_RATE_STEP_DAYS);
    } else {
      const auto anchored = core::ayanamsha_rate_deg_per_day(tt);
      if (!anchored) return python::map_coordinate_error(anchored.error());
      rate = *anchored;
    }
    out[2 * i] = *value;
    out[2 * i + 1] = rate;
  }
  return table.release();
}

constexpr Signature AYANAMSHAS{"ayanamshas()", {}};

// (name, star or None, sidereal longitude of the star or the value at the
// epoch, epoch TT Julian day or None) of every row of the table.
PyObject* ayanamshas(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(AYANAMSHAS, args, nargs, kwnames, bound)) return nullptr;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const core::AyanamshaDefinition& row : core::ayanamsha_definitions()) {
    Ref item;
    if (row.kind == core::AyanamshaKind::StarAtLongitude && row.star != nullptr) {
      item = Ref::steal(
          Py_BuildValue("(s#s#dO)", row.name.data(), static_cast<Py_ssize_t>(row.name.size()),
                        row.star->name.data(), static_cast<Py_ssize_t>(row.star->name.size()),
                        row.star_sidereal_longitude_deg, Py_None));
    } else {
      item = Ref::steal(Py_BuildValue("(s#Odd)", row.name.data(),
                                      static_cast<Py_ssize_t>(row.name.size()), Py_None,
                                      row.value_at_epoch_deg, row.epoch_tt_julian_day));
    }
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

// ------------------------------------------------------------ lunar points

constexpr Parameter MEAN_LUNAR_PARAMETERS[] = {{"tt"}};
constexpr Signature MEAN_LUNAR{"mean_lunar_points()", MEAN_LUNAR_PARAMETERS};

// (mean node, mean apogee longitude, mean apogee latitude), mean ecliptic
// and equinox of date, degrees.
PyObject* mean_lunar_points(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Bound bound;
  if (!python::bind(MEAN_LUNAR, args, nargs, kwnames, bound)) return nullptr;
  Arrays in;
  if (!in.add(bound[0], "tt")) return nullptr;
  double* out = nullptr;
  Ref table = new_table(in.length(), 3, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < in.length(); ++i) {
    const double tt = in[0][i];
    if (!std::isfinite(tt))
      return python::map_coordinate_error(core::CoordinateError::NonFiniteState);
    const core::EclipticPoint apogee = core::mean_lunar_apogee(tt);
    out[3 * i] = core::mean_lunar_node_deg(tt);
    out[3 * i + 1] = apogee.longitude_deg;
    out[3 * i + 2] = apogee.latitude_deg;
  }
  return table.release();
}

constexpr Parameter OSCULATING_PARAMETERS[] = {{"states"}, {"tdb"}};
constexpr Signature OSCULATING{"osculating_lunar_points()", OSCULATING_PARAMETERS};
constexpr std::size_t OSCULATING_COLUMNS = 5;

// states: the Moon's geocentric geometric states in the kernels' J2000
// equatorial frame, six numbers per instant (au, au/day) one after the
// other; tdb: the instants. Rotated to the mean ecliptic and equinox of date
// (no nutation) and turned into (node, apogee longitude, apogee latitude,
// inclination, eccentricity).
PyObject* osculating_lunar_points(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  Bound bound;
  if (!python::bind(OSCULATING, args, nargs, kwnames, bound)) return nullptr;
  Ref states_array = julian_day_array(bound[0], "states");
  if (!states_array) return nullptr;
  const std::span<const double> states = float64_values(states_array.get());
  Arrays in;
  if (!in.add(bound[1], "tdb")) return nullptr;
  if (states.size() != 6 * in.length()) {
    return python::value_error("states must hold six numbers for each of the " +
                               std::to_string(in.length()) + " instants");
  }
  double* out = nullptr;
  Ref table = new_table(in.length(), OSCULATING_COLUMNS, out);
  Failures failures;
  if (!table || !failures.ok()) return nullptr;
  for (std::size_t i = 0; i < in.length(); ++i) {
    double* row = out + i * OSCULATING_COLUMNS;
    core::CartesianState state;
    for (std::size_t k = 0; k < 3; ++k) {
      state.position[k] = states[6 * i + k];
      state.velocity[k] = states[6 * i + 3 + k];
    }
    std::expected<core::OsculatingLunarPoints, core::LunarPointError> points =
        std::unexpected(core::LunarPointError::NonFiniteState);
    if (std::isfinite(in[0][i])) {
      const auto rotated = core::OfDateRotation::create(false, false, in[0][i]).apply(state);
      if (rotated) {
        points = core::osculating_lunar_points({rotated->position, rotated->velocity});
      }
    }
    if (!points) {
      std::fill(row, row + OSCULATING_COLUMNS, NOT_DEFINED);
      if (!failures.add(i, core::message(points.error()))) return nullptr;
      continue;
    }
    row[0] = points->ascending_node_deg;
    row[1] = points->apogee.longitude_deg;
    row[2] = points->apogee.latitude_deg;
    row[3] = points->inclination_deg;
    row[4] = points->eccentricity;
  }
  return failures.pair_with(std::move(table));
}

constexpr int FUNCTION = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef astrology_functions[] = {
    {"house_cusps", python::as_cfunction<house_cusps>(), FUNCTION,
     "house_cusps(system, ramc_deg, latitude_deg, obliquity_deg)\n--\n\n"
     "Cusps of one of the eighteen systems over 1-D arrays of one length: a\n"
     "float64 array (n, 16) of cusps 1..12, ascendant, midheaven, vertex and\n"
     "equatorial ascendant, and a list of (index, message) for the elements\n"
     "without cusps (their rows are NaN)."},
    {"house_systems", python::as_cfunction<house_systems>(), FUNCTION,
     "house_systems()\n--\n\n(name, letter, iterative) of every house system."},
    {"site_sky", python::as_cfunction<site_sky>(), FUNCTION,
     "site_sky(ut1, tt, longitude_east_deg)\n--\n\n"
     "(n, 3) float64: RAMC, true obliquity and nutation in longitude, degrees,\n"
     "computed as tarvex.house_cusps computes them."},
    {"ayanamsha", python::as_cfunction<ayanamsha>(), FUNCTION,
     "ayanamsha(name, tt)\n--\n\n(n, 2) float64: the mean ayanamsha and its rate (deg, deg/day)."},
    {"ayanamshas", python::as_cfunction<ayanamshas>(), FUNCTION,
     "ayanamshas()\n--\n\n(name, star, longitude or value, epoch) of every ayanamsha."},
    {"mean_lunar_points", python::as_cfunction<mean_lunar_points>(), FUNCTION,
     "mean_lunar_points(tt)\n--\n\n"
     "(n, 3) float64: mean node, mean apogee longitude and latitude (mean equinox of date)."},
    {"osculating_lunar_points", python::as_cfunction<osculating_lunar_points>(), FUNCTION,
     "osculating_lunar_points(states, tdb)\n--\n\n"
     "(n, 5) float64: osculating node, apogee longitude and latitude (mean\n"
     "equinox of date), inclination and eccentricity from geocentric J2000\n"
     "equatorial Moon states (6 numbers per instant, au and au/day), and a\n"
     "list of (index, message) for elements without them."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::kit
