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

#include "core/angles.hpp"
#include "core/ayanamshas.hpp"
#include "core/frames.hpp"
#include "core/house_systems.hpp"
#include "core/lunar_points.hpp"
#include "tarvexkit/native/argument_converters.hpp"
#include "tarvexkit/native/moon_stencil.hpp"
#include "core/observer.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "tarvexkit/native/arrays.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Ref;

constexpr double NOT_DEFINED = std::numeric_limits<double>::quiet_NaN();
// Half-width of the central difference that gives the rate of a shift with
// nutation or a star in it (the fortnightly nutation terms leave an error
// near 0.002"/day).
constexpr double RATE_STEP_DAYS = 1.0;

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

// A new (rows, columns) float64 array.
Ref new_table(std::size_t rows, std::size_t columns, double*& data) {
  const std::array<std::size_t, 2> shape{rows, columns};
  return new_float64_array(shape, data);
}

// ------------------------------------------------------------ house systems

constexpr std::size_t HOUSE_COLUMNS = 16;

PyObject* house_cusps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  core::HouseMethod method{};
  Column ramc;
  Column latitude;
  Column obliquity;
  const Argument parameters[] = {
      {"system", to_house_method, method},
      {"ramc_deg", to_column, ramc},
      {"latitude_deg", to_column, latitude},
      {"obliquity_deg", to_column, obliquity},
  };
  Arguments arguments("house_cusps()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  if (!check_same_length({&ramc, &latitude, &obliquity})) return nullptr;
  const std::size_t length = ramc.values.size();
  double* out = nullptr;
  Ref table = new_table(length, HOUSE_COLUMNS, out);
  Failures failures;
  if (!table || !failures.ok()) return nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (interrupted_at(i)) return nullptr;
    double* row = out + i * HOUSE_COLUMNS;
    const auto set =
        core::house_cusps_deg(method, ramc.values[i], latitude.values[i], obliquity.values[i]);
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

PyObject* house_systems(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments arguments("house_systems()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
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

// RAMC (local apparent sidereal time), true obliquity and nutation in
// longitude, degrees: the very steps of core::house_cusps, so that cusps
// from these equal the strict module's for its four systems.
PyObject* site_sky(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column ut1_days;
  Column tt_days;
  Column longitude;
  const Argument parameters[] = {
      {"ut1", to_column, ut1_days},
      {"tt", to_column, tt_days},
      {"longitude_east_deg", to_column, longitude},
  };
  Arguments arguments("site_sky()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  if (!check_same_length({&ut1_days, &tt_days, &longitude})) return nullptr;
  const std::size_t length = ut1_days.values.size();
  double* out = nullptr;
  Ref table = new_table(length, 3, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (interrupted_at(i)) return nullptr;
    const double ut1 = ut1_days.values[i];
    const double tt = tt_days.values[i];
    const double longitude_deg = longitude.values[i];
    double* row = out + i * 3;
    if (!std::isfinite(ut1) || !std::isfinite(tt) || !std::isfinite(longitude_deg)) {
      return python::value_error("ut1, tt and longitude_east_deg must be finite (element " +
                                 std::to_string(i) + ")");
    }
    const auto [dpsi, deps] = core::nutation_iau2000b(tt);
    const double ramc =
        core::normalize_radians(core::greenwich_apparent_sidereal_time_iau2006(ut1, tt, dpsi) +
                                longitude_deg * core::DEG_TO_RAD);
    row[0] = core::normalize_degrees(ramc * core::RAD_TO_DEG);
    row[1] = (core::mean_obliquity_iau2006(tt) + deps) * core::RAD_TO_DEG;
    row[2] = dpsi * core::RAD_TO_DEG;
  }
  return table.release();
}

// ------------------------------------------------------------ ayanamshas

// (mean ayanamsha, rate of the shift, shift) in degrees and degrees per day
// at TT Julian days; the shift is what a sidereal zodiac takes off a
// true-equinox longitude (sidereal_zodiacs.hpp).
PyObject* ayanamsha(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const SiderealZodiac* zodiac = nullptr;
  Column tt_days;
  const Argument parameters[] = {{"name", to_sidereal_zodiac, zodiac}, {"tt", to_column, tt_days}};
  Arguments arguments("ayanamsha()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::size_t length = tt_days.values.size();
  double* out = nullptr;
  Ref table = new_table(length, 3, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (interrupted_at(i)) return nullptr;
    const double tt = tt_days.values[i];
    const auto value = ayanamsha_value(*zodiac, tt);
    if (!value) return python::map_coordinate_error(value.error());
    double rate = 0.0;
    if (zodiac->rule == ZodiacRule::Strict &&
        core::ayanamsha_definitions()[static_cast<std::size_t>(zodiac->row)].kind ==
            core::AyanamshaKind::PrecessionFromEpoch) {
      const auto anchored = core::ayanamsha_rate_deg_per_day(tt);
      if (!anchored) return python::map_coordinate_error(anchored.error());
      rate = *anchored;
    } else {
      const auto before = ayanamsha_value(*zodiac, tt - RATE_STEP_DAYS);
      const auto after = ayanamsha_value(*zodiac, tt + RATE_STEP_DAYS);
      if (!before || !after)
        return python::map_coordinate_error(core::CoordinateError::NonFiniteState);
      rate = std::remainder(after->shift_deg - before->shift_deg, 360.0) / (2.0 * RATE_STEP_DAYS);
    }
    out[3 * i] = value->mean_deg;
    out[3 * i + 1] = rate;
    out[3 * i + 2] = value->shift_deg;
  }
  return table.release();
}

// (name, star or None, sidereal longitude of the star or the value at the
// epoch, epoch TT Julian day or None, rule) of every zodiac of the kit.
PyObject* ayanamshas(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments arguments("ayanamshas()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const SiderealZodiac& zodiac : sidereal_zodiacs()) {
    Ref item;
    const auto name_size = static_cast<Py_ssize_t>(zodiac.name.size());
    if (zodiac.rule == ZodiacRule::Star) {
      item = Ref::steal(Py_BuildValue("(s#s#dOs)", zodiac.name.data(), name_size,
                                      zodiac.star->name.data(),
                                      static_cast<Py_ssize_t>(zodiac.star->name.size()),
                                      zodiac.star_sidereal_longitude_deg, Py_None, "star"));
    } else if (zodiac.rule == ZodiacRule::Anchored) {
      item = Ref::steal(Py_BuildValue("(s#Odds)", zodiac.name.data(), name_size, Py_None,
                                      zodiac.value_at_j2000_deg, 2451545.0, "anchored"));
    } else {
      const core::AyanamshaDefinition& row =
          core::ayanamsha_definitions()[static_cast<std::size_t>(zodiac.row)];
      item = Ref::steal(Py_BuildValue("(s#Odds)", zodiac.name.data(), name_size, Py_None,
                                      row.value_at_epoch_deg, row.epoch_tt_julian_day, "strict"));
    }
    if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
  }
  return list.release();
}

// ------------------------------------------------------------ lunar points

// (mean node, mean apogee longitude, mean apogee latitude), mean ecliptic
// and equinox of date, degrees.
PyObject* mean_lunar_points(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column tt_days;
  const Argument parameters[] = {{"tt", to_column, tt_days}};
  Arguments arguments("mean_lunar_points()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::size_t length = tt_days.values.size();
  double* out = nullptr;
  Ref table = new_table(length, 3, out);
  if (!table) return nullptr;
  for (std::size_t i = 0; i < length; ++i) {
    if (interrupted_at(i)) return nullptr;
    const double tt = tt_days.values[i];
    if (!std::isfinite(tt))
      return python::map_coordinate_error(core::CoordinateError::NonFiniteState);
    const core::EclipticPoint apogee = core::mean_lunar_apogee(tt);
    out[3 * i] = core::mean_lunar_node_deg(tt);
    out[3 * i + 1] = apogee.longitude_deg;
    out[3 * i + 2] = apogee.latitude_deg;
  }
  return table.release();
}

constexpr std::size_t OSCULATING_COLUMNS = 5;

// rows: the Moon's geometric geocentric batch rows in the kernels' J2000
// equator at the instants of each base instant's stencil (moon_stencil.hpp),
// MOON_STENCIL_NUMBERS numbers per instant; tdb: the base instants; the
// stencil's step. Turned into (node, apogee longitude, apogee latitude,
// inclination, eccentricity), mean ecliptic and equinox of date.
PyObject* osculating_lunar_points(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  Column row_values;
  Column tdb_days;
  double step = 0.0;
  const Argument parameters[] = {{"rows", to_column, row_values},
                                 {"tdb", to_column, tdb_days},
                                 {"state_step_days", to_step_days, step}};
  Arguments arguments("osculating_lunar_points()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::span<const double> rows = row_values.values;
  const std::span<const double> tdb = tdb_days.values;
  if (rows.size() != MOON_STENCIL_NUMBERS * tdb.size()) {
    return python::value_error("rows must hold " + std::to_string(MOON_STENCIL_NUMBERS) +
                               " numbers (a stencil of positions) for each of the " +
                               std::to_string(tdb.size()) + " instants");
  }
  double* out = nullptr;
  Ref table = new_table(tdb.size(), OSCULATING_COLUMNS, out);
  Failures failures;
  if (!table || !failures.ok()) return nullptr;
  for (std::size_t i = 0; i < tdb.size(); ++i) {
    if (interrupted_at(i)) return nullptr;
    double* row = out + i * OSCULATING_COLUMNS;
    const auto points =
        osculating_from_stencil(rows.subspan(i * MOON_STENCIL_NUMBERS, MOON_STENCIL_NUMBERS),
                                tdb[i], step);
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

// The TDB instants of the Moon's stencils: MOON_STENCIL.size() per base
// instant, base instant after base instant.
PyObject* stencil_days(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column tdb_days;
  double step = 0.0;
  const Argument parameters[] = {{"tdb", to_column, tdb_days},
                                 {"state_step_days", to_step_days, step}};
  Arguments arguments("moon_stencil_days()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::span<const double> tdb = tdb_days.values;
  double* out = nullptr;
  Ref table = new_table(tdb.size(), MOON_STENCIL.size(), out);
  if (!table) return nullptr;
  moon_stencil_days(tdb, step, {out, tdb.size() * MOON_STENCIL.size()});
  return table.release();
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
     "ayanamsha(name, tt)\n--\n\n(n, 3) float64: the mean ayanamsha, the rate of the shift and the shift\n"
     "taken off true-equinox longitudes (deg, deg/day, deg)."},
    {"ayanamshas", python::as_cfunction<ayanamshas>(), FUNCTION,
     "ayanamshas()\n--\n\n(name, star, longitude or value, epoch, rule) of every ayanamsha."},
    {"mean_lunar_points", python::as_cfunction<mean_lunar_points>(), FUNCTION,
     "mean_lunar_points(tt)\n--\n\n"
     "(n, 3) float64: mean node, mean apogee longitude and latitude (mean equinox of date)."},
    {"osculating_lunar_points", python::as_cfunction<osculating_lunar_points>(), FUNCTION,
     "osculating_lunar_points(rows, tdb, state_step_days)\n--\n\n"
     "(n, 5) float64: osculating node, apogee longitude and latitude (mean\n"
     "equinox of date), inclination and eccentricity from the Moon's geometric\n"
     "geocentric J2000 equatorial batch rows at the instants of each base\n"
     "instant's stencil (moon_stencil_days), and a list of (index, message)\n"
     "for elements without them."},
    {"moon_stencil_days", python::as_cfunction<stencil_days>(), FUNCTION,
     "moon_stencil_days(tdb, state_step_days)\n--\n\n"
     "(n, 5) float64: the TDB Julian days at which osculating_lunar_points\n"
     "wants the Moon's positions for each base instant."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::kit
