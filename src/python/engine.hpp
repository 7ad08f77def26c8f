// Engine (native PyEngine): the Python handle of one SpkEphemeris store.
// An Engine is bound to the thread that created it and carries a borrow
// state; every method, attribute and the repr goes through EngineBorrow,
// which checks the thread first and then takes the borrow, before any
// argument conversion. The event methods live in engine_events.cpp and use
// the same guard.
//
// Typical query method:
//
//   ... the parameters' variables and their Argument rows ...
//   Arguments arguments("Engine.method()", parameters);
//   if (!arguments.bind(args, nargs, kwnames)) return nullptr;
//   auto borrow = EngineBorrow::shared(self);
//   if (!borrow) return nullptr;
//   if (!arguments.convert()) return nullptr;
//   ... parse names ...
//   spk::SpkEphemeris* store = borrow->store();
//   if (store == nullptr) return nullptr;  // "engine is closed" is set
//   auto result = store->position(...);
//   if (!result) return map_ephemeris_error(result.error());
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/types.hpp"
#include "python/heap_type.hpp"
#include "spk/spk_ephemeris.hpp"
#include "spk/interruption.hpp"

namespace tarvex::python {

extern ClassSlot engine_class;
extern PyMethodDef open_function;

// Appends the event methods (engine_events.cpp) to Engine's own method
// table. Called by the module's execution step before the class is
// created: the tables of two files can only be joined once both are
// initialised.
void prepare_engine_class();

// The instance layout. `store` is empty once the engine is closed (a failed
// additional-kernel attachment); the borrow count is >0 for shared borrows
// and EXCLUSIVE_BORROW while a with_* method runs.
struct PyEngine {
  PyObject_HEAD std::unique_ptr<spk::SpkEphemeris> store;
  // The creator's thread serial number (engine.cpp), never reused within
  // the process, unlike the OS's thread ids.
  std::uint64_t creator_thread;
  // Only the creator thread ever reaches the count (the thread check comes
  // first), so relaxed loads and stores suffice.
  std::atomic<std::int32_t> borrows;
};

inline constexpr std::int32_t EXCLUSIVE_BORROW = -1;

enum class BorrowKind : std::uint8_t { Shared, Exclusive };

// Thread check plus borrow, released when the guard goes. Acquiring fails
// with PanicException on a foreign thread and RuntimeError "Already mutably
// borrowed" / "Already borrowed" on a conflicting borrow.
class EngineBorrow {
 public:
  // `self` must be an Engine (the method tables guarantee it).
  static std::optional<EngineBorrow> acquire(PyObject* self, BorrowKind kind);
  static std::optional<EngineBorrow> shared(PyObject* self) {
    return acquire(self, BorrowKind::Shared);
  }
  static std::optional<EngineBorrow> exclusive(PyObject* self) {
    return acquire(self, BorrowKind::Exclusive);
  }

  EngineBorrow(EngineBorrow&& other) noexcept
      : engine_(std::exchange(other.engine_, nullptr)), kind_(other.kind_) {}
  EngineBorrow(const EngineBorrow&) = delete;
  EngineBorrow& operator=(const EngineBorrow&) = delete;
  EngineBorrow& operator=(EngineBorrow&&) = delete;
  ~EngineBorrow();

  // The store, or nullptr with ValueError "engine is closed" set. Call it
  // after every conversion, immediately before the engine operation.
  spk::SpkEphemeris* store() const;
  PyEngine& engine() const noexcept { return *engine_; }

 private:
  EngineBorrow(PyEngine* engine, BorrowKind kind) noexcept : engine_(engine), kind_(kind) {}
  PyEngine* engine_;
  BorrowKind kind_;
};

// While an engine operation that runs Python code midway is under way (the
// interpreter's pending signal handlers between chunks, NumPy's set-up, a
// garbage collection), the engine counts as exclusively borrowed: a call
// from that code into the same engine would meet the kernel list and its
// caches in use, so it is refused like any conflicting borrow, with
// "Already mutably borrowed" for a query and "Already borrowed" for a
// with_* method. The borrow the caller held before is restored at the end.
class EngineOperation {
 public:
  explicit EngineOperation(PyEngine& engine) noexcept
      : engine_(engine), held_(engine.borrows.load(std::memory_order_relaxed)) {
    engine_.borrows.store(EXCLUSIVE_BORROW, std::memory_order_relaxed);
  }
  EngineOperation(const EngineOperation&) = delete;
  EngineOperation& operator=(const EngineOperation&) = delete;
  ~EngineOperation() { engine_.borrows.store(held_, std::memory_order_relaxed); }

 private:
  PyEngine& engine_;
  std::int32_t held_;
};

// An Interruption that runs the interpreter's pending signal handlers
// (PyErr_CheckSignals) and stops the operation when one raises; the
// exception stays set for the caller to return.
spk::Interruption signal_interruption();

// Engine.positions end to end after the conversions (batch_array.cpp): the
// engine fills the array's buffer in place (SpkEphemeris::positions_into),
// so a large batch holds its floats once. Engine errors become ValueError;
// an exception raised by a signal handler between chunks ends the call.
PyObject* batch_positions_array(PyEngine& engine, const spk::SpkEphemeris& store,
                                std::span<const core::Body> bodies,
                                std::span<const core::Instant> instants,
                                const core::PositionOptions& options);

}  // namespace tarvex::python
