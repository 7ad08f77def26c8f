// The search core's functions in tarvexkit._native (see search_functions.hpp).
// Spans come as one flat array of (begin, end, sample_begin, sample_end)
// per span; results are float64 tables, one row per event, which the
// Python layer turns into Times and kinds.
#include "tarvexkit/native/search_functions.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python/binder.hpp"
#include "python/errors.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/body_targets.hpp"
#include "tarvexkit/native/earth_rotation.hpp"
#include "tarvexkit/native/horizon_quantity.hpp"
#include "tarvexkit/native/argument_converters.hpp"
#include "tarvexkit/native/position_options.hpp"
#include "tarvexkit/native/search_core.hpp"
#include "tarvexkit/native/store.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Default;
using python::Ref;

// ------------------------------------------------------------ arguments

// The quantity searched: a Python callable, or a native one.
struct Quantity {
  PyObject* callable = nullptr;
  PyObject* store = nullptr;
  const spk::EngineTime* time = nullptr;
  std::string body;
  HorizonQuantity horizon;
};

constexpr const char* HORIZON_FORM =
    "a native quantity is (\"horizon\", store, earth_rotation, body, options, longitude_east_deg, "
    "latitude_deg, height_m, value, altitude_deg)";

bool to_quantity(PyObject* value, std::string_view parameter, Quantity& out) {
  if (PyCallable_Check(value)) {
    out.callable = value;
    return true;
  }
  if (!PyTuple_Check(value) || PyTuple_GET_SIZE(value) != 10) {
    python::type_error(std::string(parameter) + " must be a callable f(instants, tags) or " +
                       HORIZON_FORM);
    return false;
  }
  auto item = [&](Py_ssize_t k) { return PyTuple_GET_ITEM(value, k); };
  std::string_view kind;
  if (!python::to_text(item(0), parameter, kind)) return false;
  if (kind != "horizon") {
    python::value_error(std::string(HORIZON_FORM) + ", not \"" + std::string(kind) + "\"");
    return false;
  }
  if (!is_store(item(1))) {
    python::type_error(std::string(parameter) + "[1] must be a tarvexkit._native.Store");
    return false;
  }
  out.store = item(1);
  out.time = earth_rotation_time(item(2));
  if (out.time == nullptr) return false;
  std::string_view body;
  std::string_view which;
  core::GeodeticObserver& site = out.horizon.site;
  if (!python::to_text(item(3), parameter, body) ||
      !read_position_options(item(4), parameter, out.horizon.options) ||
      !python::to_float(item(5), parameter, site.longitude_east_deg) ||
      !python::to_float(item(6), parameter, site.latitude_deg) ||
      !python::to_float(item(7), parameter, site.height_m) ||
      !python::to_text(item(8), parameter, which) ||
      !python::to_float(item(9), parameter, out.horizon.altitude_deg)) {
    return false;
  }
  out.body = body;
  if (which == "altitude") {
    out.horizon.value = HorizonValue::Altitude;
  } else if (which == "hour_angle_sine") {
    out.horizon.value = HorizonValue::HourAngleSine;
  } else {
    python::value_error("value must be \"altitude\" or \"hour_angle_sine\", not \"" +
                        std::string(which) + "\"");
    return false;
  }
  return true;
}

bool to_spans(PyObject* value, std::string_view parameter, std::vector<search::Span>& out) {
  Column column;
  if (!to_column(value, parameter, column)) return false;
  const std::span<const double> v = column.values;
  if (v.size() % 4 != 0) {
    python::value_error(std::string(parameter) +
                        " must hold (begin, end, sample_begin, sample_end) per span");
    return false;
  }
  for (std::size_t i = 0; i < v.size(); i += 4) {
    const search::Span span{v[i], v[i + 1], v[i + 2], v[i + 3]};
    if (!(std::isfinite(span.begin) && std::isfinite(span.end) && span.end > span.begin &&
          span.sample_begin <= span.begin && span.sample_end >= span.end)) {
      python::value_error(std::string(parameter) + ": span " + std::to_string(i / 4) +
                          " must have finite begin < end inside sample_begin .. sample_end");
      return false;
    }
    out.push_back(span);
  }
  return true;
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

// ------------------------------------------------------------ running

// A Python callable as an evaluator. It runs in the calling thread with the
// interpreter lock held (settings.workers is 1); a Python exception stops
// the search and stays set.
class PythonEvaluator {
 public:
  explicit PythonEvaluator(PyObject* callable) : callable_(callable) {}

  search::Evaluator evaluator() {
    return [this](std::size_t, std::span<const double> instants,
                  std::span<const std::uint32_t> tags,
                  std::span<double> values) -> std::expected<void, core::EphemerisError> {
      if (fill(instants, tags, values)) return {};
      raised_ = true;
      return std::unexpected(core::EphemerisError::computation("the quantity raised"));
    };
  }
  bool raised() const noexcept { return raised_; }

 private:
  bool fill(std::span<const double> instants, std::span<const std::uint32_t> tags,
            std::span<double> values) {
    const std::array<std::size_t, 1> shape{instants.size()};
    double* t = nullptr;
    double* k = nullptr;
    Ref t_array = new_float64_array(shape, t);
    Ref k_array = new_float64_array(shape, k);
    if (!t_array || !k_array) return false;
    std::copy(instants.begin(), instants.end(), t);
    std::copy(tags.begin(), tags.end(), k);
    Ref result =
        Ref::steal(PyObject_CallFunctionObjArgs(callable_, t_array.get(), k_array.get(), nullptr));
    if (!result) return false;
    Column column;
    if (!to_column(result.get(), "the quantity's result", column)) return false;
    if (column.values.size() != values.size()) {
      python::value_error("the quantity returned " + std::to_string(column.values.size()) +
                          " values for " + std::to_string(values.size()) + " instants");
      return false;
    }
    std::copy(column.values.begin(), column.values.end(), values.begin());
    return true;
  }

  PyObject* callable_;
  bool raised_ = false;
};

// Runs `search(evaluator, settings)` for the quantity and turns its result
// into Python with `convert`.
template <class Search, class Convert>
PyObject* run(const Quantity& quantity, search::Settings settings, Search&& search,
              Convert&& convert) {
  if (quantity.callable != nullptr) {
    PythonEvaluator python(quantity.callable);
    settings.workers = 1;
    auto found = search(python.evaluator(), settings);
    if (python.raised()) return nullptr;
    if (!found) return python::map_ephemeris_error(found.error());
    return convert(*found);
  }
  PyObject* out = nullptr;
  const bool leased =
      with_stores(quantity.store, settings.workers, [&](std::span<spk::SpkEphemeris* const> stores) {
        const std::string names[] = {quantity.body};
        auto targets = resolve_body_targets(*stores.front(), names);
        if (!targets) {
          python::value_error(targets.error());
          return;
        }
        HorizonQuantity horizon = quantity.horizon;
        horizon.target = targets->front();
        const search::Evaluator evaluator = horizon_evaluator(horizon, stores, *quantity.time);
        settings.workers = stores.size();
        // The search runs without the interpreter lock; the calling thread
        // takes it back every few tens of milliseconds to run signal
        // handlers (Ctrl-C raises KeyboardInterrupt there and stops it).
        PyThreadState* saved = nullptr;
        settings.keep_going = [&saved] {
          PyEval_RestoreThread(saved);
          const bool calm = PyErr_CheckSignals() == 0;
          saved = PyEval_SaveThread();
          return calm;
        };
        using Found = decltype(search(evaluator, settings));
        std::optional<Found> result;
        std::exception_ptr exception;
        saved = PyEval_SaveThread();
        try {
          result.emplace(search(evaluator, settings));
        } catch (...) {
          exception = std::current_exception();
        }
        PyEval_RestoreThread(saved);
        if (exception) std::rethrow_exception(exception);
        if (PyErr_Occurred()) return;  // a signal handler raised
        Found& found = *result;
        if (!found) {
          python::map_ephemeris_error(found.error());
          return;
        }
        out = convert(*found);
      });
  if (!leased) return nullptr;
  return out;
}

search::Settings settings_of(double step_days, std::size_t workers) {
  search::Settings settings;
  settings.step_days = step_days;
  settings.workers = workers;
  return settings;
}

// A new float64 table (rows, columns) filled row by row by `fill(i, row)`.
template <class Fill>
PyObject* table(std::size_t rows, std::size_t columns, Fill&& fill) {
  const std::array<std::size_t, 2> shape{rows, columns};
  double* out = nullptr;
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  for (std::size_t i = 0; i < rows; ++i) fill(i, out + i * columns);
  return result.release();
}

// ------------------------------------------------------------ functions

PyObject* find_crossings(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Quantity quantity;
  std::vector<search::Span> spans;
  Column levels;
  double step_days = 0.0;
  std::size_t workers = usable_cpus();
  const Argument parameters[] = {
      {"quantity", to_quantity, quantity},   {"spans", to_spans, spans},
      {"levels", to_column, levels},         {"step_days", to_step_days, step_days},
      {"threads", to_workers, workers, Default::None},
  };
  Arguments arguments("find_crossings()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  const std::span<const double> level_values = levels.values;
  return run(
      quantity, settings_of(step_days, workers),
      [&](const search::Evaluator& f, const search::Settings& settings) {
        return search::find_crossings(f, spans, level_values, settings);
      },
      [](const std::vector<search::Crossing>& found) {
        return table(found.size(), 4, [&](std::size_t i, double* row) {
          row[0] = found[i].instant;
          row[1] = found[i].rising ? 1.0 : 0.0;
          row[2] = found[i].level;
          row[3] = found[i].span;
        });
      });
}

PyObject* find_extrema(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Quantity quantity;
  std::vector<search::Span> spans;
  double step_days = 0.0;
  std::size_t workers = usable_cpus();
  const Argument parameters[] = {
      {"quantity", to_quantity, quantity},
      {"spans", to_spans, spans},
      {"step_days", to_step_days, step_days},
      {"threads", to_workers, workers, Default::None},
  };
  Arguments arguments("find_extrema()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  return run(
      quantity, settings_of(step_days, workers),
      [&](const search::Evaluator& f, const search::Settings& settings) {
        return search::find_extrema(f, spans, settings);
      },
      [](const std::vector<search::Extremum>& found) {
        return table(found.size(), 4, [&](std::size_t i, double* row) {
          row[0] = found[i].instant;
          row[1] = found[i].value;
          row[2] = found[i].maximum ? 1.0 : 0.0;
          row[3] = found[i].span;
        });
      });
}

PyObject* sample(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Quantity quantity;
  std::vector<search::Span> spans;
  double step_days = 0.0;
  std::size_t workers = usable_cpus();
  const Argument parameters[] = {
      {"quantity", to_quantity, quantity},
      {"spans", to_spans, spans},
      {"step_days", to_step_days, step_days},
      {"threads", to_workers, workers, Default::None},
  };
  Arguments arguments("sample()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  return run(
      quantity, settings_of(step_days, workers),
      [&](const search::Evaluator& f, const search::Settings& settings) {
        return search::sample(f, spans, settings);
      },
      [](const search::Samples& found) {
        std::size_t span = 0;
        return table(found.instants.size(), 3, [&](std::size_t i, double* row) {
          while (i >= found.offsets[span + 1]) ++span;
          row[0] = found.instants[i];
          row[1] = found.values[i];
          row[2] = static_cast<double>(span);
        });
      });
}

PyObject* refine_crossings(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  Quantity quantity;
  Column low, high, value_low, value_high, tags;
  std::size_t workers = usable_cpus();
  const Argument parameters[] = {
      {"quantity", to_quantity, quantity},  {"low", to_column, low},
      {"high", to_column, high},            {"value_low", to_column, value_low},
      {"value_high", to_column, value_high}, {"tags", to_column, tags},
      {"threads", to_workers, workers, Default::None},
  };
  Arguments arguments("refine_crossings()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert()) return nullptr;
  if (!check_same_length({&low, &high, &value_low, &value_high, &tags})) return nullptr;
  std::vector<search::Bracket> brackets(low.values.size());
  for (std::size_t i = 0; i < brackets.size(); ++i) {
    const double tag = tags.values[i];
    if (!(tag >= 0.0 && tag < 4294967296.0)) {
      return python::value_error("tags must be whole numbers from 0 to 2**32 - 1");
    }
    brackets[i] = {low.values[i], high.values[i], value_low.values[i], value_high.values[i],
                   static_cast<std::uint32_t>(tag)};
  }
  return run(
      quantity, settings_of(1.0, workers),
      [&](const search::Evaluator& f, const search::Settings& settings) {
        return search::refine_crossings(f, brackets, settings);
      },
      [](const std::vector<double>& found) {
        const std::array<std::size_t, 1> shape{found.size()};
        double* out = nullptr;
        Ref result = new_float64_array(shape, out);
        if (!result) return static_cast<PyObject*>(nullptr);
        std::copy(found.begin(), found.end(), out);
        return result.release();
      });
}

constexpr int FUNCTION = METH_FASTCALL | METH_KEYWORDS;

}  // namespace

PyMethodDef search_functions[] = {
    {"find_crossings", python::as_cfunction<find_crossings>(), FUNCTION,
     "find_crossings(quantity, spans, levels, step_days, threads=None)\n--\n\n"
     "Every crossing of quantity = level in each span [begin, end): a float64\n"
     "table (n, 4) of instant, rising (1.0 or 0.0), level index and span index,\n"
     "sorted by span, then time. spans: flat (begin, end, sample_begin,\n"
     "sample_end) per span. An instant is the last one evaluated on the side\n"
     "the quantity comes from (within 1e-8 day of the crossing)."},
    {"find_extrema", python::as_cfunction<find_extrema>(), FUNCTION,
     "find_extrema(quantity, spans, step_days, threads=None)\n--\n\n"
     "Every local extremum the samples show in each span: a float64 table\n"
     "(n, 4) of instant, value, maximum (1.0 or 0.0) and span index."},
    {"sample", python::as_cfunction<sample>(), FUNCTION,
     "sample(quantity, spans, step_days, threads=None)\n--\n\n"
     "The quantity on each span's sampling grid: a float64 table (n, 3) of\n"
     "instant, value and span index."},
    {"refine_crossings", python::as_cfunction<refine_crossings>(), FUNCTION,
     "refine_crossings(quantity, low, high, value_low, value_high, tags, threads=None)\n--\n\n"
     "The crossing of zero in each bracket [low, high] (the values on\n"
     "different sides of zero: >= 0 and < 0), as a float64 array: the last\n"
     "instant on low's side. tags[i] reaches the quantity with bracket i's\n"
     "instants."},
    {nullptr, nullptr, 0, nullptr},
};

int add_search_constants(PyObject* module) {
  const std::pair<const char*, double> constants[] = {
      {"TOLERANCE_DAYS", search::TOLERANCE_DAYS},
      {"EXTREMUM_TOLERANCE_DAYS", search::EXTREMUM_TOLERANCE_DAYS},
      {"HORIZON_STEP_DAYS", search::HORIZON_STEP_DAYS},
      {"QUARTER_STEP_DAYS", search::QUARTER_STEP_DAYS},
      {"MOON_STEP_DAYS", search::MOON_STEP_DAYS},
      {"STEP_DAYS", search::STEP_DAYS},
      {"SPEED_DIFFERENCE_DAYS", search::SPEED_DIFFERENCE_DAYS},
      {"SATELLITE_STEPS_PER_REVOLUTION", search::SATELLITE_STEPS_PER_REVOLUTION},
      {"SATELLITE_DIFFERENCE_DAYS", search::SATELLITE_DIFFERENCE_DAYS},
  };
  for (const auto& [name, value] : constants) {
    Ref number = Ref::steal(PyFloat_FromDouble(value));
    if (!number || PyModule_AddObjectRef(module, name, number.get()) < 0) return -1;
  }
  return 0;
}

}  // namespace tarvex::kit
