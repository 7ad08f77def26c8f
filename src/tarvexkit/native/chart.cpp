// Store.chart: a chart's whole computation for n instants in one call.
//
// Positions: the bodies' apparent geocentric places of date at TT t, t - d
// and t + d in one batch of the store (d = speed_step_days, given as
// tarvexkit.searches.STATION_DIFFERENCE_DAYS); a speed is the
// central difference (lon(t + d) - lon(t - d)) / 2d of the longitude in the
// chart's zodiac, the derivative of the longitude printed beside it.
// Lunar points (src/core/lunar_points.hpp): mean node and apogee from their
// series at TT; the osculating node and apogee from the Moon's geometric
// geocentric J2000 state over a stencil of positions h = state_step_days
// apart (tarvexkit.lunar.STATE_STEP_DAYS; moon_stencil.hpp), rotated to the
// mean ecliptic and equinox of date; every
// lunar point gets the nutation in longitude (IAU 2000B) for the true
// equinox. Houses (src/core/house_systems.hpp): RAMC from the local
// apparent sidereal time (IAU 2006, nutation IAU 2000B) and the true
// obliquity, as tarvex.house_cusps takes them. A sidereal zodiac takes its
// shift (sidereal_zodiacs.hpp) off every longitude; its Whole
// Sign and equal houses are stepped from the sidereal angles. Aspects: every
// pair of points whose separation lies within an aspect's orb of its angle;
// applying when the separation moves towards the angle.
#include "tarvexkit/native/chart.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/angles.hpp"
#include "core/ayanamshas.hpp"
#include "core/frames.hpp"
#include "core/house_systems.hpp"
#include "core/lunar_points.hpp"
#include "core/observer.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "tarvexkit/native/argument_converters.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/moon_stencil.hpp"
#include "tarvexkit/native/store.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Default;
using python::Ref;

constexpr double NOT_DEFINED = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t HOUSE_COLUMNS = 18;  // cusps, asc, mc, vertex, east point, RAMC, obliquity
constexpr std::size_t ASPECT_COLUMNS = 7;

enum class PointKind { Body, MeanNode, TrueNode, MeanApogee, OsculatingApogee };

PointKind point_kind(std::string_view name) {
  if (name == "mean_node") return PointKind::MeanNode;
  if (name == "true_node") return PointKind::TrueNode;
  if (name == "mean_apogee") return PointKind::MeanApogee;
  if (name == "osculating_apogee") return PointKind::OsculatingApogee;
  return PointKind::Body;
}

// x mod m with the sign of m, as Python's float % computes it.
double modulo(double x, double m) {
  double r = std::fmod(x, m);
  if (r != 0.0 && ((r < 0.0) != (m < 0.0))) r += m;
  return r;
}
// Angles into [-180, 180]; exact (and of the same sign) for |x| < 180, as
// tarvexkit.searches.wrap180 (NumPy's round is to nearest even, as rint).
double wrap180(double x) { return x - 360.0 * std::nearbyint(x / 360.0); }

bool to_optional_house_method(PyObject* value, std::string_view parameter,
                              std::optional<core::HouseMethod>& out) {
  core::HouseMethod method{};
  if (!to_house_method(value, parameter, method)) return false;
  out = method;
  return true;
}

bool to_optional_ayanamsha(PyObject* value, std::string_view parameter,
                           const SiderealZodiac*& out) {
  return to_sidereal_zodiac(value, parameter, out);
}

struct Site {
  double longitude_east_deg = 0.0;
  double latitude_deg = 0.0;
};

// The house (1..12) whose cusp is the last at or before the longitude in
// the direction the cusps run (backwards in the quadrant systems of the far
// north and south when the midheaven lies below the horizon); 0 without
// cusps.
int house_of(double longitude, const double* cusps) {
  if (std::isnan(cusps[0])) return 0;
  double total = 0.0;
  for (int k = 0; k < 12; ++k) total += modulo(cusps[(k + 1) % 12] - cusps[k], 360.0);
  const bool forward = total < 720.0;
  for (int k = 0; k < 12; ++k) {
    const double start = cusps[k];
    const double end = cusps[(k + 1) % 12];
    if (forward && modulo(longitude - start, 360.0) < modulo(end - start, 360.0)) return k + 1;
    if (!forward && modulo(start - longitude, 360.0) < modulo(start - end, 360.0)) return k + 1;
  }
  return 1;  // only reached when cusps coincide
}

// Cusps of one sky into `row` (HOUSE_COLUMNS): the system's, or the
// fallback's inside the polar circles; the failure's message otherwise.
struct HouseOutcome {
  bool fallback = false;
  std::optional<std::string> failure;
};

// The sky in radians (RAMC in [0, 2 pi)), so that the strict module's four
// systems give its cusps bit for bit.
HouseOutcome houses_into(double* row, core::HouseMethod method,
                         std::optional<core::HouseMethod> fallback, double ramc,
                         double latitude_deg, double obliquity) {
  HouseOutcome outcome;
  const double latitude = latitude_deg * core::DEG_TO_RAD;
  const double obliquity_deg = obliquity * core::RAD_TO_DEG;
  auto set = core::house_cusps_of_sky(method, ramc, latitude, obliquity);
  if (!set && fallback && std::fabs(latitude_deg) + obliquity_deg >= 90.0) {
    auto other = core::house_cusps_of_sky(*fallback, ramc, latitude, obliquity);
    if (other) {
      set = std::move(other);
      outcome.fallback = true;
    }
  }
  row[16] = core::normalize_degrees(ramc * core::RAD_TO_DEG);
  row[17] = obliquity_deg;
  if (!set) {
    std::fill(row, row + 16, NOT_DEFINED);
    outcome.failure = set.error().message();
    return outcome;
  }
  std::copy(set->cusp_deg.begin(), set->cusp_deg.end(), row);
  row[12] = set->ascendant_deg;
  row[13] = set->midheaven_deg;
  row[14] = set->vertex_deg;
  row[15] = set->equatorial_ascendant_deg;
  return outcome;
}

// Tropical cusps and angles less the ayanamsha; Whole Sign and the equal
// systems stepped again from the sidereal angles.
void sidereal_houses(double* row, core::HouseMethod method, double ayanamsha) {
  if (std::isnan(row[0])) return;
  for (std::size_t c = 12; c < 16; ++c) row[c] = modulo(row[c] - ayanamsha, 360.0);
  const double asc = row[12];
  const double mc = row[13];
  std::optional<double> start;
  switch (method) {
    case core::HouseMethod::WholeSign: start = std::floor(asc / 30.0) * 30.0; break;
    case core::HouseMethod::EqualAscendant: start = asc; break;
    case core::HouseMethod::Vehlow: start = asc - 15.0; break;
    case core::HouseMethod::EqualMidheaven: start = mc + 90.0; break;
    default: break;
  }
  for (int k = 0; k < 12; ++k) {
    row[k] = start ? modulo(*start + 30.0 * k, 360.0) : modulo(row[k] - ayanamsha, 360.0);
  }
}

Ref new_array(std::initializer_list<std::size_t> dims, double*& data) {
  const std::vector<std::size_t> shape(dims);
  return new_float64_array(shape, data);
}

// Pairs of (index, text) as a list.
bool append_pair(PyObject* list, std::size_t index, std::string_view text) {
  Ref item = Ref::steal(Py_BuildValue("(ns#)", static_cast<Py_ssize_t>(index), text.data(),
                                      static_cast<Py_ssize_t>(text.size())));
  return item && PyList_Append(list, item.get()) == 0;
}

}  // namespace

const char* const STORE_CHART_DOC =
    "chart($self, names, tt, ut1, longitude_east_deg, latitude_deg, system, polar_fallback,\n"
    "      ayanamsha, angles, orbs, speed_step_days, state_step_days)\n--\n\n"
    "A chart at each of n instants (TT and UT1 Julian days, 1-D arrays of one\n"
    "length) for a site: names are bodies and the lunar points 'mean_node',\n"
    "'true_node', 'mean_apogee', 'osculating_apogee' (canonical names); system a\n"
    "house system's name, polar_fallback None or a system used where it has no\n"
    "cusps inside the polar circles; ayanamsha None (tropical) or an ayanamsha's\n"
    "name; angles and orbs the aspects' exact angles and orbs (degrees);\n"
    "speed_step_days the half-width of the speeds' central difference and\n"
    "state_step_days the step of the Moon's five-point velocity.\n\n"
    "Returns (points, houses, house_numbers, aspects, failures, fallback):\n"
    "points (n, k, 4) longitude, latitude, distance (NaN for lunar points) and\n"
    "the longitude's derivative (deg/day) in the zodiac; houses (n, 18) cusps\n"
    "1..12, ascendant, midheaven, vertex, east point, RAMC, obliquity;\n"
    "house_numbers (n, k) 1..12 (0 without cusps); aspects (m, 7) instant,\n"
    "first, second, aspect index, separation, orb, applying (1.0 or 0.0);\n"
    "failures a list of (instant, message) without cusps; fallback a list of\n"
    "the instants whose cusps are the fallback's.";

PyObject* store_chart(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) {
  std::vector<std::string> names;
  Column tt_days;
  Column ut1_days;
  Site site;
  core::HouseMethod method{};
  std::optional<core::HouseMethod> fallback;
  const SiderealZodiac* ayanamsha = nullptr;
  Column angle_values;
  Column orb_values;
  double speed_step = 0.0;
  double state_step = 0.0;
  const Argument parameters[] = {
      {"names", python::to_text_list, names},
      {"tt", to_column, tt_days},
      {"ut1", to_column, ut1_days},
      {"longitude_east_deg", python::to_float, site.longitude_east_deg},
      {"latitude_deg", python::to_float, site.latitude_deg},
      {"system", to_house_method, method},
      {"polar_fallback", to_optional_house_method, fallback, Default::None},
      {"ayanamsha", to_optional_ayanamsha, ayanamsha, Default::None},
      {"angles", to_column, angle_values},
      {"orbs", to_column, orb_values},
      {"speed_step_days", to_step_days, speed_step},
      {"state_step_days", to_step_days, state_step},
  };
  Arguments arguments("Store.chart()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  if (!check_same_length({&tt_days, &ut1_days}) || !check_same_length({&angle_values, &orb_values}))
    return nullptr;
  const std::span<const double> tt = tt_days.values;
  const std::span<const double> ut1 = ut1_days.values;
  const std::span<const double> angles = angle_values.values;
  const std::span<const double> orbs = orb_values.values;
  const std::size_t n = tt.size();
  const std::size_t k = names.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(tt[i]) || !std::isfinite(ut1[i]))
      return python::value_error("tt and ut1 must be finite (element " + std::to_string(i) + ")");
  }

  // The chart's points: bodies for the batch, lunar points computed here.
  std::vector<PointKind> kinds;
  std::vector<std::string> bodies;
  std::vector<std::size_t> body_of(k, 0);
  bool osculating = false;
  for (std::size_t j = 0; j < k; ++j) {
    kinds.push_back(point_kind(names[j]));
    if (kinds[j] == PointKind::Body) {
      body_of[j] = bodies.size();
      bodies.push_back(names[j]);
    }
    osculating = osculating || kinds[j] == PointKind::TrueNode ||
                 kinds[j] == PointKind::OsculatingApogee;
  }

  // Instants t, t - d, t + d, one after the other.
  std::vector<double> days(3 * n);
  for (std::size_t i = 0; i < n; ++i) {
    days[i] = tt[i];
    days[n + i] = tt[i] - speed_step;
    days[2 * n + i] = tt[i] + speed_step;
  }
  const double* body_rows = nullptr;
  Ref body_batch;
  if (!bodies.empty() && n > 0) {
    core::PositionOptions apparent;
    apparent.reference_epoch = core::ReferenceEpoch::OfDate;
    apparent.apparent = true;
    body_batch = store_batch(self, bodies, days, core::TimeScale::Tt, apparent, body_rows);
    if (!body_batch) return nullptr;
  }

  // The lunar points at the 3n instants: (longitude, latitude), true equinox.
  std::vector<std::array<double, 2>> lunar(3 * n * k, {NOT_DEFINED, NOT_DEFINED});
  const bool any_lunar =
      std::any_of(kinds.begin(), kinds.end(), [](PointKind p) { return p != PointKind::Body; });
  if (any_lunar && n > 0) {
    std::vector<double> tdb(3 * n);
    if (auto converted = store_time_arrays(self).convert(days, core::TimeScale::Tt,
                                                          core::TimeScale::Tdb, tdb);
        !converted) {
      return python::value_error("tt[" + std::to_string(converted.error().index % n) +
                                 "]: " + converted.error().message);
    }
    Ref moon_batch;
    const double* moon_rows = nullptr;
    if (osculating) {
      std::vector<double> stencil(3 * n * MOON_STENCIL.size());
      moon_stencil_days(tdb, state_step, stencil);
      core::PositionOptions geometric;
      geometric.coordinate_system = core::CoordinateSystem::Equatorial;
      moon_batch =
          store_batch(self, {"moon"}, stencil, core::TimeScale::Tdb, geometric, moon_rows);
      if (!moon_batch) return nullptr;
    }
    for (std::size_t b = 0; b < 3 * n; ++b) {
      const double dpsi_deg = core::nutation_iau2000b(days[b]).first * core::RAD_TO_DEG;
      std::optional<core::OsculatingLunarPoints> oscu;
      if (osculating) {
        const auto found = osculating_from_stencil(
            {moon_rows + b * MOON_STENCIL_NUMBERS, MOON_STENCIL_NUMBERS}, tdb[b], state_step);
        if (!found) {
          return python::value_error(std::string(core::message(found.error())) + " (element " +
                                     std::to_string(b % n) + ")");
        }
        oscu = *found;
      }
      for (std::size_t j = 0; j < k; ++j) {
        std::array<double, 2>& out = lunar[b * k + j];
        switch (kinds[j]) {
          case PointKind::Body: continue;
          case PointKind::MeanNode: out = {core::mean_lunar_node_deg(days[b]), 0.0}; break;
          case PointKind::MeanApogee: {
            const core::EclipticPoint apogee = core::mean_lunar_apogee(days[b]);
            out = {apogee.longitude_deg, apogee.latitude_deg};
            break;
          }
          case PointKind::TrueNode: out = {oscu->ascending_node_deg, 0.0}; break;
          case PointKind::OsculatingApogee:
            out = {oscu->apogee.longitude_deg, oscu->apogee.latitude_deg};
            break;
        }
        out[0] = modulo(out[0] + dpsi_deg, 360.0);
      }
    }
  }

  // The ayanamsha at the 3n instants.
  std::vector<double> shift(3 * n, 0.0);
  if (ayanamsha) {
    // Without points only the instants themselves are needed.
    for (std::size_t b = 0; b < (k == 0 ? n : 3 * n); ++b) {
      const auto value = ayanamsha_value(*ayanamsha, days[b]);
      if (!value) return python::map_coordinate_error(value.error());
      shift[b] = value->shift_deg;
    }
  }

  double* points = nullptr;
  Ref point_table = new_array({n, k, 4}, points);
  double* houses = nullptr;
  Ref house_table = new_array({n, HOUSE_COLUMNS}, houses);
  double* numbers = nullptr;
  Ref number_table = new_array({n, k}, numbers);
  Ref failures = Ref::steal(PyList_New(0));
  Ref fallbacks = Ref::steal(PyList_New(0));
  if (!point_table || !house_table || !number_table || !failures || !fallbacks) return nullptr;
  std::vector<double> aspects;

  const std::size_t bodies_count = bodies.size();
  const auto longitude_at = [&](std::size_t b, std::size_t j) {
    const double tropical = kinds[j] == PointKind::Body
                                ? body_rows[(b * bodies_count + body_of[j]) * 4]
                                : lunar[b * k + j][0];
    return ayanamsha ? modulo(tropical - shift[b], 360.0) : tropical;
  };
  for (std::size_t i = 0; i < n; ++i) {
    if (interrupted_at(i)) return nullptr;
    double* row = points + i * k * 4;
    for (std::size_t j = 0; j < k; ++j) {
      double* p = row + 4 * j;
      if (kinds[j] == PointKind::Body) {
        const double* r = body_rows + (i * bodies_count + body_of[j]) * 4;
        p[1] = r[1];
        p[2] = r[2];
      } else {
        p[1] = lunar[i * k + j][1];
        p[2] = NOT_DEFINED;
      }
      p[0] = modulo(longitude_at(i, j), 360.0);
      p[3] = wrap180(longitude_at(2 * n + i, j) - longitude_at(n + i, j)) / (2.0 * speed_step);
    }

    // Houses of the site's sky, as tarvex.house_cusps takes it.
    double* house_row = houses + i * HOUSE_COLUMNS;
    const auto [dpsi, deps] = core::nutation_iau2000b(tt[i]);
    const double ramc = core::normalize_radians(
        core::greenwich_apparent_sidereal_time_iau2006(ut1[i], tt[i], dpsi) +
        site.longitude_east_deg * core::DEG_TO_RAD);
    const double obliquity = core::mean_obliquity_iau2006(tt[i]) + deps;
    const HouseOutcome outcome =
        houses_into(house_row, method, fallback, ramc, site.latitude_deg, obliquity);
    if (outcome.failure && !append_pair(failures.get(), i, *outcome.failure)) return nullptr;
    if (outcome.fallback) {
      Ref index = Ref::steal(PyLong_FromSize_t(i));
      if (!index || PyList_Append(fallbacks.get(), index.get()) < 0) return nullptr;
    }
    if (ayanamsha) sidereal_houses(house_row, method, shift[i]);
    for (std::size_t j = 0; j < k; ++j)
      numbers[i * k + j] = house_of(row[4 * j], house_row);

    // Aspects between every pair of points.
    for (std::size_t a = 0; a < k; ++a) {
      for (std::size_t b = a + 1; b < k; ++b) {
        const double difference = modulo(row[4 * a] - row[4 * b] + 180.0, 360.0) - 180.0;
        const double separation = std::fabs(difference);
        const double rate = (row[4 * a + 3] - row[4 * b + 3]) * (difference >= 0.0 ? 1.0 : -1.0);
        for (std::size_t s = 0; s < angles.size(); ++s) {
          const double orb = separation - angles[s];
          if (std::fabs(orb) <= orbs[s]) {
            aspects.insert(aspects.end(),
                           {static_cast<double>(i), static_cast<double>(a), static_cast<double>(b),
                            static_cast<double>(s), separation, orb, orb * rate < 0.0 ? 1.0 : 0.0});
          }
        }
      }
    }
  }
  double* aspect_data = nullptr;
  Ref aspect_table = new_array({aspects.size() / ASPECT_COLUMNS, ASPECT_COLUMNS}, aspect_data);
  if (!aspect_table) return nullptr;
  std::copy(aspects.begin(), aspects.end(), aspect_data);
  return PyTuple_Pack(6, point_table.get(), house_table.get(), number_table.get(),
                      aspect_table.get(), failures.get(), fallbacks.get());
}

}  // namespace tarvex::kit
