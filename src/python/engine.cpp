// Engine and open(): opening the store with its optional time kernels,
// attaching further files, single and batch positions, and the engine's
// thread binding and borrow state.
#include "python/engine.hpp"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/checksum.hpp"
#include "core/format.hpp"
#include "core/path_name.hpp"
#include "python/binder.hpp"
#include "python/convert.hpp"
#include "python/engine_events.hpp"
#include "python/errors.hpp"
#include "python/metadata_objects.hpp"
#include "python/value_results.hpp"
#include "python/values.hpp"
#include "spk/kernel.hpp"
#include "time/eop.hpp"
#include "time/leap_seconds.hpp"

namespace tarvex::python {

namespace {

constexpr std::string_view SENT_TO_ANOTHER_THREAD =
    "tarvex::PyEngine is unsendable, but sent to another thread";
constexpr const char* DROPPED_ON_ANOTHER_THREAD =
    "tarvex::PyEngine is unsendable, but is being dropped on another thread";

PyEngine& as_engine(PyObject* self) noexcept { return *reinterpret_cast<PyEngine*>(self); }

// The calling thread's serial number, handed out on the thread's first use
// of an engine. The OS's thread ids are handed out again once a thread has
// ended, so a later thread could pass for an engine's finished creator; a
// serial number is never given twice within the process.
std::uint64_t current_thread_serial() noexcept {
  static std::atomic<std::uint64_t> next_serial{1};
  thread_local const std::uint64_t serial = next_serial.fetch_add(1, std::memory_order_relaxed);
  return serial;
}

PyObject* none() { Py_RETURN_NONE; }

// ------------------------------------------------------------ opening

// The parameters of Engine() and open(), shared by both.
struct OpenTexts {
  std::string_view path;
  std::string_view sha256;
  std::optional<std::string_view> leap_second_kernel;
  std::optional<std::string_view> leap_second_sha256;
  std::optional<std::string_view> eop;
  std::optional<std::string_view> eop_sha256;

  std::array<Argument, 6> parameters() {
    return {{
        {"path", to_text, path},
        {"sha256", to_text, sha256},
        {"leap_second_kernel", to_optional_text, leap_second_kernel, Default::None},
        {"leap_second_sha256", to_optional_text, leap_second_sha256, Default::None},
        {"eop", to_optional_text, eop, Default::None},
        {"eop_sha256", to_optional_text, eop_sha256, Default::None},
    }};
  }
};

// The six texts are converted first, then the store opens, then the
// leap-second pair is judged before the Earth orientation pair, so that a
// mismatched pair is only reported for a kernel that opened.
PyObject* open_engine(PyTypeObject* type, Arguments& arguments, const OpenTexts& text) {
  if (!arguments.convert()) return nullptr;
  auto store = spk::SpkEphemeris::open(std::string(text.path), text.sha256);
  if (!store) return map_ephemeris_error(store.error());

  if (text.leap_second_kernel.has_value() != text.leap_second_sha256.has_value()) {
    return value_error("leap_second_kernel and leap_second_sha256 must be supplied together");
  }
  if (text.leap_second_kernel) {
    auto kernel = time::LeapSecondKernel::open(*text.leap_second_kernel, *text.leap_second_sha256);
    if (!kernel) return value_error(kernel.error().message());
    store->time().attach_leap_second_kernel(std::move(*kernel));
  }
  if (text.eop.has_value() != text.eop_sha256.has_value()) {
    return value_error("eop and eop_sha256 must be supplied together");
  }
  if (text.eop) {
    auto table = time::EarthOrientationTable::open(*text.eop, *text.eop_sha256);
    if (!table) return value_error(table.error().message());
    store->time().attach_eop(std::move(*table));
  }

  auto owned = std::make_unique<spk::SpkEphemeris>(std::move(*store));
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  PyEngine& engine = as_engine(self);
  new (&engine.store) std::unique_ptr<spk::SpkEphemeris>(std::move(owned));
  engine.creator_thread = current_thread_serial();
  new (&engine.borrows) std::atomic<std::int32_t>(0);
  return self;
}

PyObject* engine_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  OpenTexts text;
  const auto parameters = text.parameters();
  Arguments arguments("Engine.__new__()", parameters);
  if (!arguments.bind(args, kwargs)) return nullptr;
  return open_engine(type, arguments, text);
}

PyObject* open_module_function(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
  OpenTexts text;
  const auto parameters = text.parameters();
  Arguments arguments("open()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  PyTypeObject* type = ensure_class(engine_class);
  if (type == nullptr) return nullptr;
  return open_engine(type, arguments, text);
}

void engine_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  PyEngine& engine = as_engine(self);
  if (engine.creator_thread != current_thread_serial()) {
    // The store's files and caches belong to the creator thread; releasing
    // them here could race with it, so they are leaked and the mistake is
    // reported without disturbing an exception in flight.
    PyObject* pending_type = nullptr;
    PyObject* pending_value = nullptr;
    PyObject* pending_traceback = nullptr;
    PyErr_Fetch(&pending_type, &pending_value, &pending_traceback);
    PyErr_SetString(PyExc_RuntimeError, DROPPED_ON_ANOTHER_THREAD);
    // The class, not the instance: the instance's repr would fail here.
    PyErr_WriteUnraisable(reinterpret_cast<PyObject*>(type));
    PyErr_Restore(pending_type, pending_value, pending_traceback);
    static_cast<void>(engine.store.release());
  }
  engine.store.~unique_ptr();
  engine.borrows.~atomic();
  type->tp_free(self);
  Py_DECREF(type);
}

// ------------------------------------------------------------ attaching

// Binding, then the exclusive borrow, then the conversions (every parameter a text).
std::optional<EngineBorrow> bind_texts(const char* function, std::span<const Argument> parameters,
                                       PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                       PyObject* kwnames) {
  Arguments arguments(function, parameters);
  if (!arguments.bind(args, nargs, kwnames)) return std::nullopt;
  auto borrow = EngineBorrow::exclusive(self);
  if (!borrow) return std::nullopt;
  if (!arguments.convert()) return std::nullopt;
  return borrow;
}

// A file and its checksum, the parameters of three with_* methods.
struct PathTexts {
  std::string_view path;
  std::string_view sha256;

  std::array<Argument, 2> parameters() {
    return {{{"path", to_text, path}, {"sha256", to_text, sha256}}};
  }
};

PyObject* with_leap_second_kernel(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
  PathTexts text;
  auto borrow = bind_texts("Engine.with_leap_second_kernel()", text.parameters(), self, args,
                           nargs, kwnames);
  if (!borrow) return nullptr;
  auto kernel = time::LeapSecondKernel::open(text.path, text.sha256);
  if (!kernel) return value_error(kernel.error().message());
  spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  store->time().attach_leap_second_kernel(std::move(*kernel));
  return none();
}

PyObject* with_eop(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PathTexts text;
  auto borrow = bind_texts("Engine.with_eop()", text.parameters(), self, args, nargs, kwnames);
  if (!borrow) return nullptr;
  auto table = time::EarthOrientationTable::open(text.path, text.sha256);
  if (!table) return value_error(table.error().message());
  spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  store->time().attach_eop(std::move(*table));
  return none();
}

PyObject* with_time_kernels(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
  std::string_view leap_second_kernel;
  std::string_view leap_second_sha256;
  std::string_view eop;
  std::string_view eop_sha256;
  const Argument parameters[] = {
      {"leap_second_kernel", to_text, leap_second_kernel},
      {"leap_second_sha256", to_text, leap_second_sha256},
      {"eop", to_text, eop},
      {"eop_sha256", to_text, eop_sha256},
  };
  auto borrow =
      bind_texts("Engine.with_time_kernels()", parameters, self, args, nargs, kwnames);
  if (!borrow) return nullptr;
  auto kernel = time::LeapSecondKernel::open(leap_second_kernel, leap_second_sha256);
  if (!kernel) return value_error(kernel.error().message());
  auto table = time::EarthOrientationTable::open(eop, eop_sha256);
  if (!table) return value_error(table.error().message());
  spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  store->time().attach_time_kernels(std::move(*kernel), std::move(*table));
  return none();
}

// Checksum and name are judged before the file is touched, and a closed
// engine only after the file opened. The store is consumed by the
// attachment: if that fails, the engine has nothing left and stays closed.
PyObject* with_additional_kernel_file(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                      PyObject* kwnames) {
  PathTexts text;
  auto borrow = bind_texts("Engine.with_additional_kernel_file()", text.parameters(), self, args,
                           nargs, kwnames);
  if (!borrow) return nullptr;
  const auto [path, sha256] = text;
  if (!core::normalized_sha256(sha256)) {
    return value_error("kernel SHA-256 must contain exactly 64 hexadecimal characters");
  }
  auto name = core::final_path_component(path);
  if (!name) return value_error("kernel path has no UTF-8 filename");
  auto kernel = spk::SpkKernel::open(std::string(path));
  if (!kernel) return value_error(kernel.error().message());
  if (borrow->store() == nullptr) return nullptr;

  std::unique_ptr<spk::SpkEphemeris> consumed = std::move(borrow->engine().store);
  auto attached = spk::SpkEphemeris::with_additional_kernel(
      std::move(*consumed), std::move(*kernel), std::move(*name), sha256);
  consumed.reset();
  if (!attached) return map_ephemeris_error(attached.error());
  borrow->engine().store = std::make_unique<spk::SpkEphemeris>(std::move(*attached));
  return none();
}

// ------------------------------------------------------------ queries

PyObject* position(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::string_view body_name;
  core::Instant instant;
  core::PositionOptions options;
  const Argument parameters[] = {
      {"body", to_text, body_name},
      {"instant", to_instant, instant},
      {"options", to_position_options, options},
  };
  Arguments arguments("Engine.position()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  const auto body = parse_body(body_name);
  if (!body) return value_error(body.error());
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  const auto result = store->position(*body, instant, options);
  if (!result) return map_ephemeris_error(result.error());
  return new_position(*result);
}

PyObject* positions(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  std::vector<std::string> body_names;
  std::vector<core::Instant> instants;
  core::PositionOptions options;
  const Argument parameters[] = {
      {"bodies", to_text_list, body_names},
      {"instants", to_instant_list, instants},
      {"options", to_position_options, options},
  };
  Arguments arguments("Engine.positions()", parameters);
  if (!arguments.bind(args, nargs, kwnames)) return nullptr;
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  if (!arguments.convert()) return nullptr;
  std::vector<core::Body> bodies;
  bodies.reserve(body_names.size());
  for (const std::string& name : body_names) {
    const auto body = parse_body(name);
    if (!body) return value_error(body.error());
    bodies.push_back(*body);
  }
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  return batch_positions_array(borrow->engine(), *store, bodies, instants, options);
}

PyObject* supported_range(PyObject* self) {
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  const spk::SupportedRange& range = store->supported_range();
  return new_date_range(range.start_julian_day, range.end_julian_day, range.time_scale);
}

PyObject* kernel_metadata(PyObject* self) {
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  return new_kernel_metadata(store->metadata());
}

PyObject* engine_repr(PyObject* self) {
  auto borrow = EngineBorrow::shared(self);
  if (!borrow) return nullptr;
  const spk::SpkEphemeris* store = borrow->store();
  if (store == nullptr) return nullptr;
  std::string text = "Engine(kernel_name=";
  core::append_quoted_text(text, store->metadata().kernel_name);
  text += ", kernel_sha256=";
  core::append_quoted_text(text, store->metadata().kernel_sha256);
  text += ')';
  return new_text(text);
}

// ------------------------------------------------------------ the class

constexpr int METHOD = METH_FASTCALL | METH_KEYWORDS;

constexpr char OPEN_DOC[] =
    "open(path, sha256, leap_second_kernel=None, leap_second_sha256=None, eop=None, "
    "eop_sha256=None)\n--\n\n"
    "Opens an SPK/BSP kernel. `sha256` is the caller-verified 64-hex checksum.\n\n"
    "Pass `leap_second_kernel` / `leap_second_sha256` for UTC, and `eop` /\n"
    "`eop_sha256` as well for UT1 and topocentric polar motion. The same files\n"
    "can be attached later with [`PyEngine::with_time_kernels`].";

// Engine's own methods; the event methods are appended behind them.
const PyMethodDef OWN_METHODS[] = {
    {"with_leap_second_kernel", as_cfunction<with_leap_second_kernel>(), METHOD,
     "with_leap_second_kernel($self, path, sha256)\n--\n\n"
     "Attach a NAIF leap-second kernel so UTC (and UT1 with EOP) convert."},
    {"with_eop", as_cfunction<with_eop>(), METHOD,
     "with_eop($self, path, sha256)\n--\n\n"
     "Attach an IERS EOP 20 C04 table for UT1 and polar motion."},
    {"with_time_kernels", as_cfunction<with_time_kernels>(), METHOD,
     "with_time_kernels($self, leap_second_kernel, leap_second_sha256, eop, eop_sha256)\n--\n\n"
     "Attach both an LSK and an EOP table."},
    {"with_additional_kernel_file", as_cfunction<with_additional_kernel_file>(), METHOD,
     "with_additional_kernel_file($self, path, sha256)\n--\n\n"
     "Attach an extra planet-center SPK. The primary kernel still wins for\n"
     "any body and epoch it already covers. `sha256` is caller-verified."},
    {"position", as_cfunction<position>(), METHOD,
     "position($self, body, instant, options)\n--\n\n"
     "One spherical position for a named body."},
    {"positions", as_cfunction<positions>(), METHOD,
     "positions($self, bodies, instants, options)\n--\n\n"
     "Batch positions as a `NumPy` array of shape `(n_instants, n_bodies, 4)`.\n\n"
     "Columns are longitude (deg), latitude (deg), distance (au), and\n"
     "longitude speed (deg/day). Layout is instant-major, matching\n"
     "`EphemerisBackend::positions`."},
};

// Room for Engine's own methods, the event methods and the sentinel.
constexpr std::size_t METHOD_CAPACITY = 24;
PyMethodDef ENGINE_METHODS[METHOD_CAPACITY] = {};

PyGetSetDef ENGINE_GETSET[] = {
    {"supported_range", getter_entry<supported_range>, nullptr, nullptr, nullptr},
    {"kernel_metadata", getter_entry<kernel_metadata>, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot ENGINE_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(
                    "Engine(path, sha256, leap_second_kernel=None, leap_second_sha256=None, "
                    "eop=None, eop_sha256=None)\n--\n\n"
                    "Open SPK kernel and evaluate geometric or apparent spherical positions.")},
    {Py_tp_new, slot_function(new_entry<engine_new>)},
    {Py_tp_dealloc, slot_function(engine_dealloc)},
    {Py_tp_repr, slot_function(unary_entry<engine_repr>)},
    {Py_tp_methods, ENGINE_METHODS},
    {Py_tp_getset, ENGINE_GETSET},
    {0, nullptr},
};

PyType_Spec ENGINE_SPEC = {
    .name = "tarvex.Engine",
    .basicsize = sizeof(PyEngine),
    .itemsize = 0,
    .flags = CLASS_FLAGS,
    .slots = ENGINE_SLOTS,
};

}  // namespace

// Engine's own methods, its two attributes, then the event methods.
constexpr const char* ENGINE_MEMBER_ORDER[] = {
    "with_leap_second_kernel",
    "with_eop",
    "with_time_kernels",
    "with_additional_kernel_file",
    "position",
    "positions",
    "supported_range",
    "kernel_metadata",
    "rise_set_transit",
    "next_horizon_event",
    "next_season_event",
    "next_lunation",
    "sidereal_position",
    nullptr,
};

ClassSlot engine_class{&ENGINE_SPEC, nullptr, ENGINE_MEMBER_ORDER};

PyMethodDef open_function = {"open", as_cfunction<open_module_function>(), METHOD, OPEN_DOC};

void prepare_engine_class() {
  if (ENGINE_METHODS[0].ml_name != nullptr) return;  // a later import
  std::size_t count = 0;
  for (const PyMethodDef& method : OWN_METHODS) ENGINE_METHODS[count++] = method;
  for (const PyMethodDef* method = ENGINE_EVENT_METHODS; method->ml_name != nullptr; ++method) {
    // One slot stays free for the sentinel.
    if (count + 1 >= METHOD_CAPACITY) throw std::logic_error("Engine method table is full");
    ENGINE_METHODS[count++] = *method;
  }
}

spk::Interruption signal_interruption() {
  return spk::Interruption([] { return PyErr_CheckSignals() < 0; });
}

std::optional<EngineBorrow> EngineBorrow::acquire(PyObject* self, BorrowKind kind) {
  PyEngine& engine = as_engine(self);
  if (engine.creator_thread != current_thread_serial()) {
    raise_panic(SENT_TO_ANOTHER_THREAD);
    return std::nullopt;
  }
  const std::int32_t borrows = engine.borrows.load(std::memory_order_relaxed);
  if (kind == BorrowKind::Shared) {
    if (borrows == EXCLUSIVE_BORROW) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return std::nullopt;
    }
    engine.borrows.store(borrows + 1, std::memory_order_relaxed);
  } else {
    if (borrows != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return std::nullopt;
    }
    engine.borrows.store(EXCLUSIVE_BORROW, std::memory_order_relaxed);
  }
  return EngineBorrow(&engine, kind);
}

EngineBorrow::~EngineBorrow() {
  if (engine_ == nullptr) return;
  if (kind_ == BorrowKind::Exclusive) {
    engine_->borrows.store(0, std::memory_order_relaxed);
  } else {
    engine_->borrows.store(engine_->borrows.load(std::memory_order_relaxed) - 1,
                           std::memory_order_relaxed);
  }
}

spk::SpkEphemeris* EngineBorrow::store() const {
  spk::SpkEphemeris* store = engine_->store.get();
  if (store == nullptr) value_error("engine is closed");
  return store;
}

}  // namespace tarvex::python
