// The eclipse geometry's functions in tarvexkit._native (see
// eclipse_functions.hpp): one float64 table row per instant.
#include "tarvexkit/native/eclipse_functions.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <span>
#include <string>

#include "python/binder.hpp"
#include "python/errors.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/eclipse_geometry.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Ref;

constexpr std::size_t PLACE_COLUMNS = 4;
constexpr std::size_t PAIR = 2 * PLACE_COLUMNS;

eclipse::Place place_at(std::span<const double> values, std::size_t row, std::size_t which) noexcept {
  const std::size_t at = row * PAIR + which * PLACE_COLUMNS;
  return {values[at], values[at + 1], values[at + 2]};
}

// The rows of a (n, 2, 4) place array (flattened), or nullptr with
// ValueError; `rows` receives n.
bool check_places(const Column& places, std::size_t& rows) {
  if (places.values.size() % PAIR != 0) {
    python::value_error("places must hold (source, moon) pairs of four columns each, as "
                        "Store.positions gives for two bodies");
    return false;
  }
  rows = places.values.size() / PAIR;
  for (double v : places.values) {
    if (!std::isfinite(v)) {
      python::value_error("places must be finite");
      return false;
    }
  }
  return true;
}

bool check_radius(double radius_km, const char* parameter) {
  if (!(radius_km > 0.0 && std::isfinite(radius_km))) {
    python::value_error(std::string(parameter) + " must be a positive number of kilometres");
    return false;
  }
  return true;
}

template <std::size_t N, typename Row>
PyObject* table(std::size_t rows, Row&& row) {
  double* out = nullptr;
  const std::array<std::size_t, 2> shape{rows, N};
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  for (std::size_t i = 0; i < rows; ++i) {
    if (interrupted_at(i)) return nullptr;
    const std::array<double, N> values = row(i);
    for (std::size_t j = 0; j < N; ++j) out[i * N + j] = values[j];
  }
  return result.release();
}

constexpr std::size_t SHADOW_COLUMNS = 12;

// The Moon's radius for the umbra and the inner contacts (Earth radii): a
// positive number under its mean radius's 0.2725076 or equal to it.
bool check_umbra_k(double umbra_k) {
  if (!(umbra_k > 0.0 && umbra_k <= eclipse::MOON_K_PENUMBRA)) {
    python::value_error("umbra_k must be a positive number of Earth radii no larger than the Moon's mean radius "
                        "0.2725076 (0.272281 by the canon's convention), got " + std::to_string(umbra_k));
    return false;
  }
  return true;
}

PyObject* solar_shadow(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column places;
  double radius_km = 0.0;
  double umbra_k = eclipse::MOON_K_UMBRA;
  const Argument parameters[] = {{"places", to_column, places},
                                 {"source_radius_km", python::to_float, radius_km},
                                 {"umbra_k", python::to_float, umbra_k, python::Default::Value}};
  Arguments arguments("solar_shadow()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  std::size_t rows = 0;
  if (!check_places(places, rows) || !check_radius(radius_km, "source_radius_km") || !check_umbra_k(umbra_k))
    return nullptr;
  return table<SHADOW_COLUMNS>(rows, [&](std::size_t i) {
    const eclipse::Shadow s =
        eclipse::shadow(place_at(places.values, i, 0), place_at(places.values, i, 1), radius_km, umbra_k);
    return std::array<double, SHADOW_COLUMNS>{s.gamma,    s.miss,     s.l1,       s.l2,
                                              s.tan_f1,   s.tan_f2,   s.point[0], s.point[1],
                                              s.point[2], s.zeta,     s.off_axis, s.latitude_deg};
  });
}

constexpr std::size_t LUNAR_COLUMNS = 5;

PyObject* lunar_shadow(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column places;
  const Argument parameters[] = {{"places", to_column, places}};
  Arguments arguments("lunar_shadow()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  std::size_t rows = 0;
  if (!check_places(places, rows)) return nullptr;
  return table<LUNAR_COLUMNS>(rows, [&](std::size_t i) {
    const eclipse::LunarShadow s = eclipse::lunar_shadow(place_at(places.values, i, 0), place_at(places.values, i, 1));
    return std::array<double, LUNAR_COLUMNS>{s.distance_rad, s.moon_radius_rad, s.umbra_rad, s.penumbra_rad,
                                             s.gamma};
  });
}

constexpr std::size_t DISC_COLUMNS = 5;

PyObject* discs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column places;
  double radius_km = 0.0;
  double umbra_k = eclipse::MOON_K_UMBRA;
  const Argument parameters[] = {{"places", to_column, places},
                                 {"body_radius_km", python::to_float, radius_km},
                                 {"umbra_k", python::to_float, umbra_k, python::Default::Value}};
  Arguments arguments("discs()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  std::size_t rows = 0;
  if (!check_places(places, rows) || !check_radius(radius_km, "body_radius_km") || !check_umbra_k(umbra_k))
    return nullptr;
  return table<DISC_COLUMNS>(rows, [&](std::size_t i) {
    const eclipse::Discs d =
        eclipse::discs(place_at(places.values, i, 0), place_at(places.values, i, 1), radius_km, umbra_k);
    return std::array<double, DISC_COLUMNS>{d.separation_rad, d.moon_radius_rad, d.body_radius_rad,
                                            d.covered_fraction, d.moon_inner_radius_rad};
  });
}

PyObject* eclipse_radii(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments arguments("eclipse_radii()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  return Py_BuildValue("(ddddd)", eclipse::earth_radius_km(), eclipse::earth_flattening(), eclipse::moon_radius_km(),
                       eclipse::sun_radius_km(), eclipse::moon_umbral_radius_km());
}

constexpr int FUNCTION = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef eclipse_functions[] = {
    {"solar_shadow", python::as_cfunction<solar_shadow>(), FUNCTION,
     "solar_shadow(places, source_radius_km, umbra_k=0.272281)\n--\n\n"
     "(n, 12) float64: the Moon's shadow in the light of the source, in Earth\n"
     "equatorial radii (the Moon's radius 0.2725076 for the penumbra, umbra_k\n"
     "for the umbra): gamma, miss (stretched), l1, l2, tan f1, tan f2, the\n"
     "point of the Earth on or nearest the axis (x, y, z, equator of date),\n"
     "its height zeta, its distance from the axis and its geodetic latitude."},
    {"lunar_shadow", python::as_cfunction<lunar_shadow>(), FUNCTION,
     "lunar_shadow(places)\n--\n\n"
     "(n, 5) float64 from (Sun, Moon) places: the Moon's distance from the\n"
     "shadow's axis, its semi-diameter, the umbra's and the penumbra's radii\n"
     "(radians, Danjon's rule) and gamma (Earth radii, north positive)."},
    {"discs", python::as_cfunction<discs>(), FUNCTION,
     "discs(places, body_radius_km, umbra_k=0.272281)\n--\n\n"
     "(n, 5) float64 from (body, Moon) places: the separation of the centres,\n"
     "the semi-diameters of the Moon and the body (radians), the fraction\n"
     "of the body's disc covered by the Moon's and the Moon's semi-diameter\n"
     "for the inner contacts (its radius umbra_k Earth radii)."},
    {"eclipse_radii", python::as_cfunction<eclipse_radii>(), FUNCTION,
     "eclipse_radii()\n--\n\n"
     "(Earth's equatorial radius km, flattening, Moon's radius km, Sun's radius km,\n"
     "Moon's radius for the umbra km)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::kit
