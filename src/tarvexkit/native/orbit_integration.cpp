// The orbit integration of tarvexkit._native (see orbit_integration.hpp).
#include "tarvexkit/native/orbit_integration.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/gauss_radau.hpp"
#include "core/nbody_force.hpp"
#include "core/types.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "spk/center_chain.hpp"
#include "spk/corrections.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/store.hpp"
#include "tarvexkit/native/without_gil.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Ref;

// printf-style text (g++ 12 has no <format>).
template <class... Values>
std::string printed(const char* pattern, Values... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

constexpr double SPEED_OF_LIGHT_AU_PER_DAY =
    spk::SPEED_OF_LIGHT_KM_PER_S * core::SECONDS_PER_DAY / core::AU_KM;
// The perturbers at the eight instants of one step are the same in every
// iteration of the step: kept for the instants last asked.
constexpr std::size_t REMEMBERED_INSTANTS = 16;
// The first trial step; the step control adapts it within a few steps.
constexpr double INITIAL_STEP_DAYS = 1.0;

struct Perturbers {
  spk::KernelList* kernels = nullptr;
  std::vector<std::int32_t> ids;
  std::vector<core::PointMass> masses;
  std::size_t sun = 0;
  struct Entry {
    double t = std::nan("");
    std::vector<double> positions;
    std::array<double, 3> sun_velocity{};
  };
  std::array<Entry, REMEMBERED_INSTANTS> remembered{};
  std::size_t next = 0;
  std::vector<core::CartesianState> scratch = std::vector<core::CartesianState>(1);
  std::string failure;

  const Entry* at(double t_days) {
    for (const Entry& entry : remembered) {
      if (entry.t == t_days) return &entry;
    }
    Entry& entry = remembered[next];
    next = (next + 1) % REMEMBERED_INSTANTS;
    entry.positions.resize(3 * ids.size());
    const double epoch[] = {t_days * core::SECONDS_PER_DAY};
    for (std::size_t j = 0; j < ids.size(); ++j) {
      auto done = spk::barycentric_states_into(*kernels, ids[j], epoch, scratch);
      if (!done) {
        failure = printed("the kernels cannot give body %d at JD %.6f TDB: %s", static_cast<int>(ids[j]),
                          core::J2000_JULIAN_DAY + t_days, done.error().message().c_str());
        entry.t = std::nan("");
        return nullptr;
      }
      for (std::size_t i = 0; i < 3; ++i) entry.positions[3 * j + i] = scratch[0].position[i] / core::AU_KM;
      if (j == sun) {
        for (std::size_t i = 0; i < 3; ++i) {
          entry.sun_velocity[i] = scratch[0].velocity[i] * core::SECONDS_PER_DAY / core::AU_KM;
        }
      }
    }
    entry.t = t_days;
    return &entry;
  }
};

bool to_size(PyObject* value, std::string_view parameter, std::size_t& out) {
  double number = 0.0;
  if (!python::to_float(value, parameter, number)) return false;
  if (!(number >= 0.0 && number < 1e9 && number == std::floor(number))) {
    python::value_error(std::string(parameter) + " must be a whole number >= 0");
    return false;
  }
  out = static_cast<std::size_t>(number);
  return true;
}

std::string failure_text(core::RadauFailure failure, double t_days, const core::RadauSettings& settings) {
  const double jd = core::J2000_JULIAN_DAY + t_days;
  switch (failure) {
    case core::RadauFailure::StepTooSmall:
      return printed("a close approach near JD %.5f TDB needs steps shorter than %g days, which the "
                     "step control cannot resolve; the orbit is not computed",
                     jd, settings.min_step);
    case core::RadauFailure::TooManySteps:
      return printed("more than %zu steps were needed (reached JD %.5f TDB)", settings.max_steps, jd);
    case core::RadauFailure::NotFinite:
      return printed("the state stopped being finite near JD %.5f TDB", jd);
    default:
      return printed("the integration stopped near JD %.5f TDB", jd);
  }
}

PyObject* integrate_orbit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* store = nullptr;
  Column state, ids, gms, radii;
  double start_s = 0.0, end_s = 0.0, epsilon = 1e-9, min_step = 1e-7;
  std::size_t sun = 0, nodes = 3;
  double center = 0.0;
  const Argument parameters[] = {
      {"store", python::keep_object, store},
      {"state", to_column, state},
      {"center", python::to_float, center},
      {"start_s", python::to_float, start_s},
      {"end_s", python::to_float, end_s},
      {"perturbers", to_column, ids},
      {"gm", to_column, gms},
      {"radius_au", to_column, radii},
      {"sun", to_size, sun},
      {"epsilon", python::to_float, epsilon},
      {"nodes_per_step", to_size, nodes},
      {"min_step_days", python::to_float, min_step},
  };
  Arguments arguments("integrate_orbit()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  if (!is_store(store)) return python::type_error("store must be a tarvexkit._native.Store");
  if (state.values.size() != 6) return python::value_error("state must hold x, y, z (au), vx, vy, vz (au/day)");
  if (!check_same_length({&ids, &gms, &radii})) return nullptr;
  if (sun >= ids.values.size()) return python::value_error("sun must index the Sun among the perturbers");
  if (!(epsilon > 0.0 && epsilon < 1.0)) return python::value_error("epsilon must lie in (0, 1)");
  if (!std::isfinite(start_s) || !std::isfinite(end_s)) return python::value_error("start_s and end_s must be finite");
  if (nodes == 0) return python::value_error("nodes_per_step must be at least 1");

  Perturbers perturbers;
  perturbers.sun = sun;
  for (std::size_t j = 0; j < ids.values.size(); ++j) {
    perturbers.ids.push_back(static_cast<std::int32_t>(ids.values[j]));
    perturbers.masses.push_back({gms.values[j], radii.values[j]});
  }
  core::RadauSettings settings;
  settings.epsilon = epsilon;
  settings.min_step = min_step;
  settings.initial_step = INITIAL_STEP_DAYS;
  settings.nodes_per_step = nodes;

  std::vector<double> epochs{start_s};
  std::vector<double> states(state.values.begin(), state.values.end());
  std::array<double, 3> x{state.values[0], state.values[1], state.values[2]};
  std::array<double, 3> v{state.values[3], state.values[4], state.values[5]};
  std::string message;
  core::RadauStatistics statistics;
  double reached = start_s / core::SECONDS_PER_DAY;

  const bool leased =
      with_stores(store, 1, [&](std::span<spk::SpkEphemeris* const> stores) {
        spk::KernelGuard guard = stores.front()->borrow_kernels();
        perturbers.kernels = &*guard;
        if (center != 0.0) {  // the state relative to `center` made barycentric
          const double epoch[] = {start_s};
          auto done = spk::barycentric_states_into(*perturbers.kernels, static_cast<std::int32_t>(center), epoch,
                                                   perturbers.scratch);
          if (!done) {
            message = printed("the kernels cannot give the centre %.0f at JD %.6f TDB: %s", center,
                              core::J2000_JULIAN_DAY + start_s / core::SECONDS_PER_DAY,
                              done.error().message().c_str());
            return;
          }
          for (std::size_t i = 0; i < 3; ++i) {
            x[i] += perturbers.scratch[0].position[i] / core::AU_KM;
            v[i] += perturbers.scratch[0].velocity[i] * core::SECONDS_PER_DAY / core::AU_KM;
            states[i] = x[i];
            states[3 + i] = v[i];
          }
        }
        const core::RadauForce force = [&](double t, std::span<const double> px, std::span<const double> pv,
                                           std::span<double> a, double& noise) {
          reached = t;
          const Perturbers::Entry* entry = perturbers.at(t);
          if (entry == nullptr) return false;
          const auto impact = core::barycentric_acceleration(
              std::span<const double, 3>(px.data(), 3), std::span<const double, 3>(pv.data(), 3),
              perturbers.masses, entry->positions, perturbers.sun, entry->sun_velocity, SPEED_OF_LIGHT_AU_PER_DAY,
              std::span<double, 3>(a.data(), 3), noise);
          if (impact) {
            perturbers.failure = printed("the body comes within %.0f km of body %d (inside its radius) at "
                                         "JD %.5f TDB; the orbit is not computed",
                                         impact->distance_au * core::AU_KM,
                                         static_cast<int>(perturbers.ids[impact->perturber]),
                                         core::J2000_JULIAN_DAY + t);
            return false;
          }
          return true;
        };
        const core::RadauSink sink = [&](double t, std::span<const double> px, std::span<const double> pv) {
          epochs.push_back(t * core::SECONDS_PER_DAY);
          states.insert(states.end(), px.begin(), px.end());
          states.insert(states.end(), pv.begin(), pv.end());
          return true;
        };
        auto done = without_gil([&] {
          return core::integrate_gauss_radau(x, v, start_s / core::SECONDS_PER_DAY, end_s / core::SECONDS_PER_DAY,
                                             force, sink, settings);
        });
        if (!done) {
          message = perturbers.failure.empty() ? failure_text(done.error(), reached, settings) : perturbers.failure;
          return;
        }
        statistics = *done;
      });
  if (!leased) return nullptr;
  if (!message.empty()) return python::value_error(message);

  double* epoch_data = nullptr;
  double* state_data = nullptr;
  const std::array<std::size_t, 1> epoch_shape{epochs.size()};
  const std::array<std::size_t, 2> state_shape{epochs.size(), 6};
  Ref epoch_array = new_float64_array(epoch_shape, epoch_data);
  if (!epoch_array) return nullptr;
  Ref state_array = new_float64_array(state_shape, state_data);
  if (!state_array) return nullptr;
  std::copy(epochs.begin(), epochs.end(), epoch_data);
  std::copy(states.begin(), states.end(), state_data);
  return Py_BuildValue("(OOnnn)", epoch_array.get(), state_array.get(), static_cast<Py_ssize_t>(statistics.steps),
                       static_cast<Py_ssize_t>(statistics.rejected), static_cast<Py_ssize_t>(statistics.force_calls));
}

constexpr int FUNCTION = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef orbit_functions[] = {
    {"integrate_orbit", python::as_cfunction<integrate_orbit>(), FUNCTION,
     "integrate_orbit(store, state, center, start_s, end_s, perturbers, gm, radius_au, sun, epsilon, nodes_per_step,\n"
     "                min_step_days)\n--\n\n"
     "Carries a massless body from its ICRF state (au, au/day) relative to the\n"
     "body `center` (0: the barycentre) at\n"
     "start_s to end_s (TDB seconds past J2000) under the point masses\n"
     "`perturbers` (NAIF ids read from the store's kernels, GM in au^3/day^2,\n"
     "radii in au) and the relativistic term of the Sun (perturbers[sun]),\n"
     "with Everhart's Gauss-Radau integrator and IAS15 step control\n"
     "(epsilon). Returns (epochs_s, states (n, 6), steps, rejected steps,\n"
     "force evaluations): the start, nodes_per_step nodes in every step, the end.\n"
     "ValueError for an impact, a close approach the step control cannot\n"
     "resolve, or a perturber the kernels do not cover."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tarvex::kit
