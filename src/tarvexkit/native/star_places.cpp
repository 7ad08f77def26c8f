// Apparent places of stars from a catalogue of barycentric ICRS directions,
// proper motions and parallaxes at one epoch (see star_places.hpp).
//
// The model (Kaplan, USNO Circular 179 (2005), chapter 7; the
// Explanatory Supplement to the Astronomical Almanac, 3rd ed. (2013),
// chapter 7; IERS Conventions 2010, chapter 5 for the frame of date):
// - space motion: the star moves on a straight line at constant velocity,
//   its position in units of its distance being u0 + mu (t - t0), with mu
//   the proper motion vector (radians per day) and no radial velocity;
//   The proper motion is counted to the instant the light now arriving
//   crossed the plane of the barycentre (the light-time difference of
//   Circular 179, ch. 7);
// - parallax: the observer's barycentric position O (au) enters as
//   q = u0 + mu (t - t0) - pi O, pi the parallax in radians (zero when the
//   catalogue's parallax is not positive: the star is then infinitely far);
// - light deflection by the Sun (the relativistic formula of the planets'
//   pipeline, written out for a direction alone);
// - annual (and, for a site, diurnal) aberration with the relativistic
//   formula p' = (p / gamma + (1 + p.V / (1 + 1/gamma)) V) / (1 + p.V),
//   V the observer's barycentric velocity over c;
// - the rotation to the equator or ecliptic of date (IAU 2006/2000B) or to
//   the J2000 ecliptic, as the planets' positions use it.
#include "tarvexkit/native/star_places.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "core/frames.hpp"
#include "core/types.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "spk/corrections.hpp"
#include "spk/options.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/position_options.hpp"
#include "tarvexkit/native/store.hpp"
#include "tarvexkit/native/without_gil.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Default;
using python::Ref;
using spk::Vec3;

// Catalogue columns: the unit vector of the direction (ICRS) and the
// proper motion vector (radians per Julian year) at the catalogue's epoch,
// and the parallax (mas); `tarvexkit.stars` makes them once per process.
constexpr std::size_t STAR_COLUMNS = 7;
constexpr std::size_t OBSERVER_COLUMNS = 6;  // position (au), velocity (au/day)
constexpr std::size_t SUN_COLUMNS = 3;       // position (au)
constexpr std::size_t PLACE_COLUMNS = 4;
constexpr double MAS_TO_RAD = std::numbers::pi / (180.0 * 3600.0 * 1000.0);
constexpr double JULIAN_YEAR_DAYS = 365.25;
constexpr double SECONDS_PER_DAY = 86400.0;
// The length, in au, of the vector that stands for an infinitely distant star.
constexpr double FAR_AU = 1.0e12;
constexpr double SPEED_OF_LIGHT_AU_PER_DAY = spk::SPEED_OF_LIGHT_KM_PER_S * SECONDS_PER_DAY / core::AU_KM;

struct Star {
  Vec3 direction;  // u0
  Vec3 motion;     // mu, radians per day
  double parallax_rad;
};

struct Epoch {
  double days_since_catalogue;
  Vec3 observer_au, observer_velocity_au_d, sun_au;
  core::OfDateRotation rotation;
};

Star star_from(const double* row) {
  Star star;
  star.direction = {row[0], row[1], row[2]};
  star.motion = {row[3] / JULIAN_YEAR_DAYS, row[4] / JULIAN_YEAR_DAYS, row[5] / JULIAN_YEAR_DAYS};
  star.parallax_rad = row[6] > 0.0 ? row[6] * MAS_TO_RAD : 0.0;
  return star;
}

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// Relativistic aberration (Circular 179, ch. 7, without the gravitational
// potential term): the direction turned, the length kept. The velocity is
// left as it is: turning it by the 20" of aberration changes the speed
// column by a ten-thousandth of a star's proper motion.
core::CartesianState aberrate(const core::CartesianState& relative, const Vec3& velocity_km_s) {
  const double length = spk::norm(relative.position);
  if (length == 0.0) return relative;
  Vec3 u;
  Vec3 beta;
  for (int k = 0; k < 3; ++k) {
    u[k] = relative.position[k] / length;
    beta[k] = velocity_km_s[k] * spk::INVERSE_SPEED_OF_LIGHT_S_PER_KM;
  }
  const double inverse_gamma = std::sqrt(1.0 - dot(beta, beta));
  const double ub = dot(u, beta);
  const double f = 1.0 + ub / (1.0 + inverse_gamma);
  Vec3 w;
  for (int k = 0; k < 3; ++k) w[k] = inverse_gamma * u[k] + f * beta[k];
  const double scale = length / spk::norm(w);
  core::CartesianState out = relative;
  for (int k = 0; k < 3; ++k) out.position[k] = w[k] * scale;
  return out;
}

// Light deflection by the Sun (Circular 179, ch. 7; the Explanatory
// Supplement, ch. 7): p1 = p + (2 GM / c^2 E) ((p.q) e - (e.p) q) / (1 + q.e),
// with p the direction to the star, q from the Sun to the star, e from the
// Sun to the observer and E that distance; none within DEFLECTION_GUARD of
// the anti-solar direction behind the Sun. The velocity is kept, as in
// `aberrate`.
core::CartesianState deflect(const core::CartesianState& relative, const Vec3& observer_km, const Vec3& sun_km) {
  const double length = spk::norm(relative.position);
  Vec3 e;
  for (int k = 0; k < 3; ++k) e[k] = observer_km[k] - sun_km[k];
  const double sun_distance = spk::norm(e);
  if (length == 0.0 || sun_distance == 0.0) return relative;
  Vec3 p;
  Vec3 q;
  for (int k = 0; k < 3; ++k) {
    p[k] = relative.position[k] / length;
    q[k] = relative.position[k] + e[k];
    e[k] /= sun_distance;
  }
  const double q_length = spk::norm(q);
  for (double& v : q) v /= q_length;
  const double g2 = 1.0 + dot(q, e);
  if (g2 < spk::DEFLECTION_GUARD) return relative;
  const double g = spk::SUN_SCHWARZSCHILD_RADIUS_KM / sun_distance / g2;
  const double pq = dot(p, q), ep = dot(e, p);
  Vec3 w;
  for (int k = 0; k < 3; ++k) w[k] = p[k] + g * (pq * e[k] - ep * q[k]);
  const double scale = length / spk::norm(w);
  core::CartesianState out = relative;
  for (int k = 0; k < 3; ++k) out.position[k] = w[k] * scale;
  return out;
}

// Runs body(begin, end) over [0, total) cut into one contiguous range per
// worker; small totals stay on the calling thread.
template <class Body>
void parallel_ranges(std::size_t total, std::size_t workers, const Body& body) {
  constexpr std::size_t MIN_PER_WORKER = 4096;
  const std::size_t used = std::max<std::size_t>(1, std::min(workers, total / MIN_PER_WORKER));
  if (used == 1) {
    body(std::size_t{0}, total);
    return;
  }
  std::vector<std::jthread> threads;
  const std::size_t per = (total + used - 1) / used;
  for (std::size_t w = 0; w < used; ++w) {
    const std::size_t begin = w * per, end = std::min(total, begin + per);
    if (begin < end) threads.emplace_back([&body, begin, end] { body(begin, end); });
  }
}

struct Request {
  std::vector<Star> stars;
  std::vector<Epoch> epochs;
  core::PositionOptions resolved;
  double* out = nullptr;
};

void place(const Request& request, std::size_t index) {
  const std::size_t n = request.stars.size();
  const Star& star = request.stars[index % n];
  const Epoch& epoch = request.epochs[index / n];
  const double pi = star.parallax_rad;
  // The star as it was when the light now reaching the observer passed the
  // barycentre's plane: the catalogue's epoch is barycentric, and the
  // observer is up to 500 light-seconds nearer to the star or farther.
  const double days = epoch.days_since_catalogue + dot(star.direction, epoch.observer_au) / SPEED_OF_LIGHT_AU_PER_DAY;
  Vec3 q;
  Vec3 q_rate;
  for (int k = 0; k < 3; ++k) {
    q[k] = star.direction[k] + star.motion[k] * days - pi * epoch.observer_au[k];
    q_rate[k] = star.motion[k] - pi * epoch.observer_velocity_au_d[k];
  }
  const double q_length = spk::norm(q);
  const double scale_km = (pi > 0.0 ? 1.0 / pi : FAR_AU) * core::AU_KM;
  core::CartesianState relative;
  Vec3 observer_km;
  Vec3 sun_km;
  Vec3 velocity_km_s;
  for (int k = 0; k < 3; ++k) {
    relative.position[k] = q[k] * scale_km;
    relative.velocity[k] = q_rate[k] * scale_km / SECONDS_PER_DAY;
    observer_km[k] = epoch.observer_au[k] * core::AU_KM;
    sun_km[k] = epoch.sun_au[k] * core::AU_KM;
    velocity_km_s[k] = epoch.observer_velocity_au_d[k] * core::AU_KM / SECONDS_PER_DAY;
  }
  const core::Corrections& c = request.resolved.corrections;
  if (c.gravitational_deflection) relative = deflect(relative, observer_km, sun_km);
  if (c.aberration) relative = aberrate(relative, velocity_km_s);
  double* row = request.out + index * PLACE_COLUMNS;
  std::expected<core::CartesianState, core::CoordinateError> framed = relative;
  if (request.resolved.reference_epoch == core::ReferenceEpoch::OfDate) {
    framed = epoch.rotation.apply(relative);
  } else if (request.resolved.coordinate_system == core::CoordinateSystem::Ecliptic) {
    framed = core::to_j2000_ecliptic(relative);
  }
  auto spherical = framed ? core::to_spherical(*framed)
                          : std::expected<core::SphericalCoordinates, core::CoordinateError>(
                                std::unexpected(framed.error()));
  if (!spherical) {
    std::fill(row, row + PLACE_COLUMNS, std::numeric_limits<double>::quiet_NaN());
    return;
  }
  row[0] = spherical->longitude_deg;
  row[1] = spherical->latitude_deg;
  row[2] = pi > 0.0 ? q_length / pi : std::numeric_limits<double>::infinity();
  row[3] = spherical->longitude_rate_deg_per_day;
}

bool to_workers(PyObject* value, std::string_view parameter, std::size_t& out) {
  double threads = 0.0;
  if (!python::to_float(value, parameter, threads)) return false;
  if (!(threads >= 1.0 && threads <= 256.0)) {
    python::value_error(std::string(parameter) + " must be between 1 and 256");
    return false;
  }
  out = static_cast<std::size_t>(threads);
  return true;
}

bool check_table(const Column& column, std::size_t columns, std::size_t rows, const char* what) {
  if (column.values.size() != columns * rows) {
    python::value_error(std::string(column.parameter) + " must hold " + std::to_string(rows) + " rows of " +
                        std::to_string(columns) + " " + what);
    return false;
  }
  for (double v : column.values) {
    if (!std::isfinite(v)) {
      python::value_error(std::string(column.parameter) + " must be finite");
      return false;
    }
  }
  return true;
}

PyObject* star_places(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column catalogue;
  Column tdb;
  Column observer;
  Column sun;
  core::PositionOptions options;
  double catalogue_epoch = 0.0;
  std::size_t workers = usable_cpus();
  const Argument parameters[] = {
      {"catalogue", to_column, catalogue},
      {"catalogue_epoch_tdb", python::to_float, catalogue_epoch},
      {"tdb", to_column, tdb},
      {"observer", to_column, observer},
      {"sun", to_column, sun},
      {"options", read_position_options, options},
      {"threads", to_workers, workers, Default::None},
  };
  Arguments arguments("star_places()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::size_t m = tdb.values.size();
  if (catalogue.values.size() % STAR_COLUMNS != 0) {
    return python::value_error("catalogue must hold rows of 7 columns (direction, proper motion rad/yr, parallax mas)");
  }
  const std::size_t n = catalogue.values.size() / STAR_COLUMNS;
  if (!check_table(catalogue, STAR_COLUMNS, n, "columns") || !check_table(tdb, 1, m, "days") ||
      !check_table(observer, OBSERVER_COLUMNS, m, "columns (position au, velocity au/day)") ||
      !check_table(sun, SUN_COLUMNS, m, "columns (position au)")) {
    return nullptr;
  }
  auto resolved = spk::resolve_position_options(options);
  if (!resolved) return python::value_error(resolved.error().message());
  Request request;
  request.resolved = *resolved;
  const bool ecliptic = resolved->coordinate_system == core::CoordinateSystem::Ecliptic;
  double* out = nullptr;
  const std::array<std::size_t, 3> shape{m, n, PLACE_COLUMNS};
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  request.out = out;
  const std::size_t total = m * n;
  without_gil([&] {
    request.stars.resize(n);
    parallel_ranges(n, workers, [&](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) request.stars[i] = star_from(&catalogue.values[i * STAR_COLUMNS]);
    });
    request.epochs.reserve(m);
    for (std::size_t j = 0; j < m; ++j) {
      const double* o = &observer.values[j * OBSERVER_COLUMNS];
      const double* s = &sun.values[j * SUN_COLUMNS];
      request.epochs.push_back(Epoch{tdb.values[j] - catalogue_epoch,
                                     {o[0], o[1], o[2]},
                                     {o[3], o[4], o[5]},
                                     {s[0], s[1], s[2]},
                                     core::OfDateRotation::create(resolved->corrections.nutation, !ecliptic,
                                                                  tdb.values[j])});
    }
    parallel_ranges(total, workers, [&](std::size_t begin, std::size_t end) {
      for (std::size_t k = begin; k < end; ++k) place(request, k);
    });
    return 0;
  });
  return result.release();
}

constexpr int FUNCTION = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef star_functions[] = {
    {"star_places", python::as_cfunction<star_places>(), FUNCTION,
     "star_places(catalogue, catalogue_epoch_tdb, tdb, observer, sun, options, threads=None)\n--\n\n"
     "(instants, stars, 4) float64 apparent places (longitude or right ascension,\n"
     "latitude or declination in degrees, distance in au, longitude speed in\n"
     "degrees per day) of catalogue rows (unit direction x, y, z, proper motion\n"
     "vector in rad/yr, parallax mas) for observers given by barycentric ICRF states\n"
     "(instants, 6) in au and au/day, with the Sun's position (instants, 3)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::kit
