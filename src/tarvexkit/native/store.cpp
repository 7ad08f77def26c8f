// The Store class. A Store holds a pool of SpkEphemeris stores over the same
// files: the first one opened (its metadata and time kernels answer the
// attributes and time conversions) and the stores opened later for more
// workers. A store answers one query at a time, so a call leases the stores
// its workers need from the pool, opening more when the pool runs short, and
// gives them back when it ends: any number of threads may call one Store at
// once, each call on stores of its own, and the pool's lock is held only
// while stores are taken or returned. Stores are interchangeable (the same
// files, and a batch's values depend on neither the store nor its caches),
// so a result is the same bits whichever stores served it. Time conversions
// read only immutable tables and need no lease.
#include "tarvexkit/native/store.hpp"

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/format.hpp"
#include "python/binder.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"
#include "python/names.hpp"
#include "tarvexkit/native/arrays.hpp"
#include "tarvexkit/native/body_targets.hpp"
#include "tarvexkit/native/chart.hpp"
#include "tarvexkit/native/earth_rotation.hpp"
#include "tarvexkit/native/parallel_positions.hpp"
#include "tarvexkit/native/position_options.hpp"
#include "tarvexkit/native/scale_argument.hpp"
#include "tarvexkit/native/store_files.hpp"
#include "tarvexkit/native/time_arrays.hpp"
#include "tarvexkit/native/without_gil.hpp"

namespace tarvex::kit {

namespace {

using python::Argument;
using python::Arguments;
using python::Default;
using python::Ref;

// More workers than this would only multiply open files and caches.
constexpr long long MAX_THREADS = 256;

struct StoreState {
  StoreFiles files;
  // Every store opened and kept, the first one opened first; `idle` lists
  // those no call holds. Both change only under `pool_mutex`.
  std::vector<std::unique_ptr<spk::SpkEphemeris>> stores;
  std::vector<spk::SpkEphemeris*> idle;
  std::mutex pool_mutex;
  std::optional<TimeArrays> time_arrays;
  // The first store: its metadata, supported range and time kernels are
  // immutable after opening, so they are read while other threads query it.
  const spk::SpkEphemeris* first = nullptr;
  // readers(): called with the interpreter lock before every lease; raises
  // when a kernel file changed, else returns the kernels' paths as they are
  // to be opened now (new worker stores open those). Null: no check.
  PyObject* readers = nullptr;

  const spk::SpkEphemeris& primary() const { return *first; }
  ~StoreState() { Py_XDECREF(readers); }
};

struct PyStore {
  PyObject_HEAD StoreState* state;
};

StoreState& state_of(PyObject* self) noexcept { return *reinterpret_cast<PyStore*>(self)->state; }

// Stores held by one call, given back to the pool when the lease ends.
class Lease {
 public:
  explicit Lease(StoreState& state) : state_(&state) {}
  Lease(const Lease&) = delete;
  Lease& operator=(const Lease&) = delete;
  ~Lease() {
    const std::lock_guard lock(state_->pool_mutex);
    state_->idle.insert(state_->idle.end(), stores_.begin(), stores_.end());
  }

  // Takes `count` stores: idle ones first, then newly opened ones (run
  // without the interpreter lock) over the paths current_files() last
  // gave. The message on failure; the stores this call opened before the
  // failure are closed again, the idle ones it took go back to the pool.
  std::optional<std::string> take(std::size_t count) {
    StoreFiles files;
    {
      const std::lock_guard lock(state_->pool_mutex);
      while (stores_.size() < count && !state_->idle.empty()) {
        stores_.push_back(state_->idle.back());
        state_->idle.pop_back();
      }
      if (stores_.size() >= count) return std::nullopt;
      files = state_->files;
    }
    std::vector<std::unique_ptr<spk::SpkEphemeris>> opened;
    std::optional<std::string> failure;
    while (stores_.size() + opened.size() < count) {
      auto store = open_worker_store(files, state_->primary());
      if (!store) {
        failure = store.error();
        break;
      }
      opened.push_back(std::make_unique<spk::SpkEphemeris>(std::move(*store)));
    }
    if (failure) return failure;  // `opened` closes its stores here
    const std::lock_guard lock(state_->pool_mutex);
    for (auto& store : opened) {
      stores_.push_back(store.get());
      state_->stores.push_back(std::move(store));
    }
    return std::nullopt;
  }

  std::span<spk::SpkEphemeris* const> stores() const noexcept { return stores_; }
  spk::SpkEphemeris& front() const noexcept { return *stores_.front(); }

 private:
  StoreState* state_;
  std::vector<spk::SpkEphemeris*> stores_;
};

// Before a lease (interpreter lock held): the Store's readers() hook, which
// raises when a kernel file changed since it was opened (reading a
// truncated file through a mapping would end the process), and whose paths
// replace those new worker stores open. False with the exception set.
bool current_files(StoreState& state) {
  if (state.readers == nullptr) return true;
  Ref paths = Ref::steal(PyObject_CallNoArgs(state.readers));
  if (!paths) return false;
  std::vector<std::string> texts;
  if (!python::to_text_list(paths.get(), "readers()", texts)) return false;
  const std::lock_guard lock(state.pool_mutex);
  if (texts.size() != state.files.kernels.size()) {
    python::value_error("readers() must return one path per kernel");
    return false;
  }
  for (std::size_t k = 0; k < texts.size(); ++k) state.files.kernels[k].path = std::move(texts[k]);
  return true;
}

// ------------------------------------------------------------ opening

}  // namespace

std::size_t usable_cpus() noexcept {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<std::size_t>(count);
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

bool to_file_entry(PyObject* value, FileEntry& out) {
  constexpr const char* PAIR = "expected a (path, sha256) pair of str";
  if (!PyTuple_Check(value) && !PyList_Check(value)) {
    python::type_error(PAIR);
    return false;
  }
  if (PySequence_Size(value) != 2) {
    python::value_error(PAIR);
    return false;
  }
  std::array<std::string*, 2> texts{&out.path, &out.sha256};
  for (Py_ssize_t index = 0; index < 2; ++index) {
    Ref item = Ref::steal(PySequence_GetItem(value, index));
    if (!item) return false;
    if (!PyUnicode_Check(item.get())) {
      python::type_error(PAIR);
      return false;
    }
    Py_ssize_t length = 0;
    const char* text = PyUnicode_AsUTF8AndSize(item.get(), &length);
    if (text == nullptr) return false;
    texts[static_cast<std::size_t>(index)]->assign(text, static_cast<std::size_t>(length));
  }
  return true;
}

// A sequence of (path, sha256) pairs.
bool to_file_entries(PyObject* value, std::string_view parameter, std::vector<FileEntry>& out) {
  out.clear();
  return python::for_each_item(value, parameter, "tuple", [&](PyObject* item) {
    return to_file_entry(item, out.emplace_back());
  });
}

bool to_optional_file_entry(PyObject* value, std::string_view parameter,
                            std::optional<FileEntry>& out) {
  FileEntry entry;
  if (!to_file_entry(value, entry)) {
    python::add_processing_note(parameter);
    return false;
  }
  out = std::move(entry);
  return true;
}

PyObject* store_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  auto state = std::make_unique<StoreState>();
  StoreFiles& files = state->files;
  PyObject* readers = nullptr;
  const Argument parameters[] = {
      {"kernels", to_file_entries, files.kernels},
      {"leap_seconds", to_optional_file_entry, files.leap_seconds, Default::None},
      {"eop", to_optional_file_entry, files.eop, Default::None},
      {"ut1_checked_until", python::to_float, files.ut1_checked_until_jd, Default::Value},
      {"readers", python::keep_object, readers, Default::None},
  };
  Arguments arguments("Store.__new__()", parameters);
  if (!arguments.bind(args, kwargs) || !arguments.convert()) return nullptr;
  if (files.kernels.empty()) {
    return python::value_error("kernels must name at least the primary kernel");
  }
  if (readers != nullptr && !PyCallable_Check(readers)) {
    return python::type_error("readers must be a callable or None");
  }

  auto opened = without_gil([&] { return open_store(files); });
  if (!opened) return python::value_error(opened.error());
  state->stores.push_back(std::make_unique<spk::SpkEphemeris>(std::move(*opened)));
  state->first = state->stores.front().get();
  state->idle.push_back(state->stores.front().get());
  state->time_arrays.emplace(state->stores.front()->time(), usable_cpus());
  state->readers = Py_XNewRef(readers);

  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  reinterpret_cast<PyStore*>(self)->state = state.release();
  return self;
}

void store_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<PyStore*>(self)->state;
  type->tp_free(self);
  Py_DECREF(type);
}

// ------------------------------------------------------------ arguments

// An int from 1 to MAX_THREADS; the parameter defaults to None, the CPUs
// this process may run on, and its messages name it.
bool to_threads(PyObject* value, std::string_view parameter, std::optional<std::size_t>& out) {
  const std::string name(parameter);
  if (PyBool_Check(value) || !PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s must be an int or None, not '%s'", name.c_str(),
                 Py_TYPE(value)->tp_name);
    return false;
  }
  int overflow = 0;
  const long long threads = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (threads == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || threads < 1 || threads > MAX_THREADS) {
    Ref text = Ref::steal(PyObject_Repr(value));
    if (!text) return false;
    PyErr_Format(PyExc_ValueError, "%s must be between 1 and %lld, got %U", name.c_str(),
                 MAX_THREADS, text.get());
    return false;
  }
  out = static_cast<std::size_t>(threads);
  return true;
}

// ------------------------------------------------------------ positions

constexpr const char* NON_FINITE = "Julian day must be finite";

// The instants of a request: its Julian days and their scale.
struct Instants {
  Column days;
  core::TimeScale scale{};
};

bool to_instant_days(PyObject* value, std::string_view parameter, Instants& out) {
  return to_column(value, parameter, out.days);
}

// Converted after the days, with what building tarvex.Instant(day, scale)
// for each day in order would raise: the first day's finiteness, the scale,
// then any later day.
bool to_instant_scale(PyObject* value, std::string_view parameter, Instants& out) {
  std::string_view text;
  if (!python::to_text(value, parameter, text)) return false;
  const auto scale = python::parse_time_scale(text);
  const std::span<const double> days = out.days.values;
  const auto non_finite =
      std::find_if(days.begin(), days.end(), [](double day) { return !std::isfinite(day); });
  if (non_finite == days.begin() && !days.empty()) {
    python::value_error(NON_FINITE);
    return false;
  }
  if (!scale) {
    python::value_error(scale.error());
    return false;
  }
  if (non_finite != days.end()) {
    python::value_error(NON_FINITE);
    return false;
  }
  out.scale = *scale;
  return true;
}

// The batch of Store.positions on `state`'s stores: the bodies resolved,
// the request checked, the positions computed on worker threads into a new
// (instants, bodies, 4) array; empty with the exception set on failure.
Ref run_batch(StoreState& state, const std::vector<std::string>& body_names,
              PositionsRequest& request, std::optional<std::size_t> threads,
              const double** data = nullptr) {
  const std::span<const double> julian_days = request.julian_days;
  if (!current_files(state)) return {};
  Lease lease(state);
  if (auto failure = without_gil([&] { return lease.take(1); })) {
    python::value_error(*failure);
    return {};
  }
  auto bodies = resolve_body_targets(lease.front(), body_names);
  if (!bodies) {
    python::value_error(bodies.error());
    return {};
  }
  request.targets = *bodies;
  if (auto checked = check_request(lease.front(), request); !checked) {
    python::map_ephemeris_error(checked.error());
    return {};
  }
  double* out = nullptr;
  const std::array<std::size_t, 3> shape{julian_days.size(), bodies->size(), 4};
  Ref result = new_float64_array(shape, out);
  if (!result) return {};
  if (data != nullptr) *data = out;
  if (julian_days.empty()) return result;

  const std::size_t workers =
      useful_workers(julian_days.size(), threads ? *threads : usable_cpus());
  if (workers > 1) {
    if (auto failure = without_gil([&] { return lease.take(workers); })) {
      python::value_error(*failure);
      return {};
    }
  }
  const std::span<spk::SpkEphemeris* const> stores = lease.stores();

  // The workers compute; this thread takes the interpreter lock back every
  // poll interval to run signal handlers (Ctrl-C raises KeyboardInterrupt
  // there), and a raised exception cancels the batch.
  PyThreadState* saved = nullptr;
  const auto keep_going = [&saved] {
    PyEval_RestoreThread(saved);
    const bool calm = PyErr_CheckSignals() == 0;
    saved = PyEval_SaveThread();
    return calm;
  };
  std::exception_ptr exception;
  SlabsOutcome outcome = SlabsOutcome::Done;
  std::expected<void, core::EphemerisError> in_order;
  saved = PyEval_SaveThread();
  try {
    outcome = run_slabs(stores, request, out, keep_going);
    // Some slab failed. An instant that fails its checks is reported before
    // any evaluation, the earliest in the array first; failing evaluations
    // are found in the engine's own order by the one-store batch.
    if (outcome == SlabsOutcome::Failed) {
      std::optional<core::EphemerisError> first_error;
      outcome = check_instants(stores, request, keep_going, first_error);
      if (first_error) {
        in_order = std::unexpected(std::move(*first_error));
      } else if (outcome == SlabsOutcome::Done) {
        in_order = positions_in_order(lease.front(), request, out);
      }
    }
  } catch (...) {
    exception = std::current_exception();
  }
  PyEval_RestoreThread(saved);
  if (exception) std::rethrow_exception(exception);
  if (outcome == SlabsOutcome::Cancelled) return {};  // the handler's exception is set
  if (!in_order) {
    python::map_ephemeris_error(in_order.error());
    return {};
  }
  return result;
}

PyObject* positions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<std::string> body_names;
  Instants instants;
  PositionsRequest request;
  std::optional<std::size_t> threads;
  const Argument parameters[] = {
      {"bodies", python::to_text_list, body_names},
      {"julian_days", to_instant_days, instants},
      {"scale", to_instant_scale, instants},
      {"options", read_position_options, request.options},
      {"threads", to_threads, threads, Default::None},
  };
  Arguments arguments("Store.positions()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  // The toolkit's own parameter first, then the instants as building them
  // would fail, then Engine.positions' own order: bodies, options, body names.
  if (!arguments.convert({"threads", "julian_days", "scale", "bodies", "options"})) return nullptr;
  request.julian_days = instants.days.values;
  request.scale = instants.scale;
  return run_batch(state_of(self), body_names, request, threads).release();
}

// ------------------------------------------------------------ time

PyObject* element_error(const ElementError& error) {
  return python::value_error("julian_days[" + std::to_string(error.index) + "]: " + error.message);
}

// Elements converted between two looks at pending signals: a few
// milliseconds of work, so Ctrl-C is seen well within 0.2 s.
constexpr std::size_t SIGNAL_CHUNK = std::size_t{1} << 16;

// Fills a new array of the days' length with `fill(days, out)` without the
// interpreter lock, chunk by chunk, running signal handlers between chunks
// (KeyboardInterrupt ends the call). The time tables are immutable, so
// calls from several threads overlap freely.
template <class Fill>
PyObject* elementwise(PyObject* self, const Column& days, Fill&& fill) {
  const std::span<const double> julian_days = days.values;
  StoreState& state = state_of(self);
  double* out = nullptr;
  const std::array<std::size_t, 1> shape{julian_days.size()};
  Ref result = new_float64_array(shape, out);
  if (!result) return nullptr;
  for (std::size_t start = 0; start < julian_days.size(); start += SIGNAL_CHUNK) {
    const std::size_t count = std::min(SIGNAL_CHUNK, julian_days.size() - start);
    auto filled = without_gil([&] {
      return fill(*state.time_arrays, julian_days.subspan(start, count),
                  std::span<double>(out + start, count));
    });
    if (!filled) {
      filled.error().index += start;
      return element_error(filled.error());
    }
    if (PyErr_CheckSignals() != 0) return nullptr;
  }
  return result.release();
}

PyObject* convert(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column days;
  core::TimeScale from{};
  core::TimeScale to{};
  const Argument parameters[] = {
      {"julian_days", to_column, days},
      {"from_scale", to_time_scale, from},
      {"to_scale", to_time_scale, to},
  };
  Arguments arguments("Store.convert()", parameters);
  // The scales are judged before the days.
  if (!arguments.bind(args, nargs, kwnames) ||
      !arguments.convert({"from_scale", "to_scale", "julian_days"})) {
    return nullptr;
  }
  return elementwise(self, days,
                     [&](const TimeArrays& arrays, std::span<const double> days,
                         std::span<double> out) { return arrays.convert(days, from, to, out); });
}

PyObject* tdb_seconds(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Column days;
  core::TimeScale scale{};
  const Argument parameters[] = {{"julian_days", to_column, days}, {"scale", to_time_scale, scale}};
  Arguments arguments("Store.tdb_seconds()", parameters);
  if (!arguments.bind(args, nargs, kwnames) || !arguments.convert({"scale", "julian_days"})) {
    return nullptr;
  }
  return elementwise(self, days,
                     [&](const TimeArrays& arrays, std::span<const double> days,
                         std::span<double> out) { return arrays.tdb_seconds(days, scale, out); });
}

PyObject* leap_second_entries(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
  Arguments arguments("Store.leap_second_entries()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  const auto& kernel = state_of(self).primary().time().leap_seconds();
  if (!kernel) Py_RETURN_NONE;
  Ref list = Ref::steal(PyList_New(0));
  if (!list) return nullptr;
  for (const time::LeapSecondEntry& entry : kernel->entries()) {
    Ref pair = Ref::steal(Py_BuildValue("(dd)", entry.delta_at, entry.effective_jd));
    if (!pair || PyList_Append(list.get(), pair.get()) < 0) return nullptr;
  }
  return list.release();
}

PyObject* eop_coverage(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  Arguments arguments("Store.eop_coverage()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  const auto& table = state_of(self).primary().time().eop();
  if (!table || table->samples().empty()) Py_RETURN_NONE;
  return Py_BuildValue("(dd)", table->samples().front().utc_jd, table->samples().back().utc_jd);
}

PyObject* earth_rotation(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  Arguments arguments("Store.earth_rotation()", {});
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  return new_earth_rotation(state_of(self).primary().time());
}

// ------------------------------------------------------------ attributes

PyObject* supported_range(PyObject* self) {
  const spk::SupportedRange& range = state_of(self).primary().supported_range();
  return Py_BuildValue("(dd)", range.start_julian_day, range.end_julian_day);
}

// The same dict as tarvex's KernelMetadata.as_dict().
PyObject* kernel_metadata(PyObject* self) {
  return python::metadata_dict(state_of(self).primary().metadata());
}

PyObject* store_repr(PyObject* self) {
  const core::EphemerisMetadata& metadata = state_of(self).primary().metadata();
  std::string text = "Store(kernel_name=";
  core::append_quoted_text(text, metadata.kernel_name);
  text += ", additional_kernels=";
  text += std::to_string(metadata.additional_kernels.size());
  text += ')';
  return python::new_text(text);
}

// ------------------------------------------------------------ the class

constexpr int METHOD = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef STORE_METHODS[] = {
    {"positions", python::as_cfunction<positions>(), METHOD,
     "positions($self, bodies, julian_days, scale, options, threads=None)\n--\n\n"
     "Batch positions as a float64 array of shape (len(julian_days), len(bodies), 4),\n"
     "equal bit for bit to tarvex.Engine.positions(bodies, [Instant(day, scale) ...],\n"
     "options) on an engine over the same files, with the same errors.\n\n"
     "julian_days: anything NumPy makes a 1-D float64 array of. scale: \"tdb\", \"tt\",\n"
     "\"utc\" or \"ut1\". options: a tarvex.PositionOptions, read whole (correction\n"
     "switches included) through tarvex's private accessor. threads: worker threads,\n"
     "1 to 256, default the CPUs this process may use; each worker has its own\n"
     "store over the files, opened on first need and kept.\n\n"
     "The interpreter lock is released while the workers run; Ctrl-C stops the\n"
     "call within a few tens of milliseconds with KeyboardInterrupt."},
    {"chart", python::as_cfunction<store_chart>(), METHOD, STORE_CHART_DOC},
    {"convert", python::as_cfunction<convert>(), METHOD,
     "convert($self, julian_days, from_scale, to_scale)\n--\n\n"
     "Julian days converted element by element with the engine's time code: TT as\n"
     "the engine converts an instant to TT, TDB from its TDB seconds (no range\n"
     "check), UTC and UT1 through the leap-second kernel and the EOP table.\n"
     "The first failing element raises ValueError \"julian_days[i]: ...\"."},
    {"tdb_seconds", python::as_cfunction<tdb_seconds>(), METHOD,
     "tdb_seconds($self, julian_days, scale)\n--\n\n"
     "TDB seconds past J2000 as the engine computes them, range check included."},
    {"leap_second_entries", python::as_cfunction<leap_second_entries>(), METHOD,
     "leap_second_entries($self)\n--\n\n"
     "(delta_at, effective_jd) of the leap-second kernel in file order, or None."},
    {"eop_coverage", python::as_cfunction<eop_coverage>(), METHOD,
     "eop_coverage($self)\n--\n\n"
     "(first, last) UTC Julian days of the EOP table's rows, or None."},
    {"earth_rotation", python::as_cfunction<earth_rotation>(), METHOD,
     "earth_rotation($self)\n--\n\n"
     "A new EarthRotation over this store's leap-second kernel and Earth orientation\n"
     "table, as parsed when the store was opened (no file is read again).\n"
     "ValueError when either is missing."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef STORE_GETSET[] = {
    {"supported_range", python::getter_entry<supported_range>, nullptr,
     "(start, end) of the primary kernel's coverage, TDB Julian days.", nullptr},
    {"kernel_metadata", python::getter_entry<kernel_metadata>, nullptr,
     "A new dict with the content of tarvex's KernelMetadata.as_dict().", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot STORE_SLOTS[] = {
    {Py_tp_doc,
     const_cast<char*>(
         "Store(kernels, leap_seconds=None, eop=None, ut1_checked_until=1e300, readers=None)\n--\n\n"
         "The files of one tarvex engine: kernels is a sequence of (path, sha256)\n"
         "pairs, the primary kernel first, then the additional kernels in order;\n"
         "leap_seconds and eop are (path, sha256) pairs or None. Rows of the EOP\n"
         "table from 1972 up to the UTC Julian day ut1_checked_until must keep\n"
         "|UT1 - UTC| below 0.9 s (later rows are a model). Opens what\n"
         "tarvex.open(...) followed by with_additional_kernel_file(...) opens, with\n"
         "the same ValueError messages.\n\n"
         "readers, when given, is called before every call that reads kernels: it\n"
         "raises when a kernel file changed, or returns the kernels' paths as they\n"
         "are to be opened now (the stores of new workers open those).\n\n"
         "A Store may be used from any number of threads at once: each call\n"
         "computes on stores of its own, taken from a pool that grows to the\n"
         "largest number used at one time.")},
    {Py_tp_new, python::slot_function(python::new_entry<store_new>)},
    {Py_tp_dealloc, python::slot_function(store_dealloc)},
    {Py_tp_repr, python::slot_function(python::unary_entry<store_repr>)},
    {Py_tp_methods, STORE_METHODS},
    {Py_tp_getset, STORE_GETSET},
    {0, nullptr},
};

PyType_Spec STORE_SPEC = {
    .name = "tarvexkit._native.Store",
    .basicsize = sizeof(PyStore),
    .itemsize = 0,
    .flags = python::CLASS_FLAGS,
    .slots = STORE_SLOTS,
};

}  // namespace

python::ClassSlot store_class{&STORE_SPEC};

bool is_store(PyObject* object) {
  PyTypeObject* type = python::ensure_class(store_class);
  return type != nullptr && PyObject_TypeCheck(object, type);
}

bool with_stores(PyObject* store, std::size_t count,
                 const std::function<void(std::span<spk::SpkEphemeris* const>)>& body) {
  if (!current_files(state_of(store))) return false;
  Lease lease(state_of(store));
  if (auto failure = without_gil([&] { return lease.take(std::max<std::size_t>(1, count)); })) {
    python::value_error(*failure);
    return false;
  }
  body(lease.stores());
  return true;
}

python::Ref store_batch(PyObject* store, const std::vector<std::string>& bodies,
                        std::span<const double> julian_days, core::TimeScale scale,
                        const core::PositionOptions& options, const double*& data) {
  PositionsRequest request;
  request.julian_days = julian_days;
  request.scale = scale;
  request.options = options;
  return run_batch(state_of(store), bodies, request, 1, &data);
}

const TimeArrays& store_time_arrays(PyObject* store) noexcept {
  return *state_of(store).time_arrays;
}

}  // namespace tarvex::kit
