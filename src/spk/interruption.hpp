// Stopping long engine operations from above. A batch or an event search
// consults an Interruption between chunks of its work; the caller's hook
// decides whether the operation goes on (the Python layer runs the
// interpreter's pending signal handlers there, so that Ctrl-C reaches a
// long batch). A stop is not a failure of the request, so it is not an
// EphemerisError: it is its own outcome, Stopped, and the caller that
// asked for it knows the reason. An operation that stops leaves nothing
// half done behind: chunks are consulted only between evaluations, when
// the kernel caches are consistent.
#pragma once

#include <cstddef>
#include <expected>
#include <functional>
#include <utility>
#include <variant>

#include "core/errors.hpp"

namespace tarvex::spk {

// The caller's hook asked the operation to stop.
struct Stopped {
  bool operator==(const Stopped&) const = default;
};

// What an interruptible operation gives instead of its result.
using StopOrError = std::variant<Stopped, core::EphemerisError>;
template <class T>
using Interruptible = std::expected<T, StopOrError>;

// Units of work (positions formed, epochs evaluated, instants converted)
// between two consultations of the hook: at most a few milliseconds of
// work, and few enough calls that the hook's cost does not show.
inline constexpr std::size_t INTERRUPTION_POLL_WORK = 1024;

class Interruption {
 public:
  // Never stops.
  Interruption() = default;
  // `stop_requested` is asked between chunks of work; true ends the
  // operation with Stopped.
  explicit Interruption(std::function<bool()> stop_requested)
      : stop_requested_(std::move(stop_requested)) {}

  // Counts `work` more units; once INTERRUPTION_POLL_WORK of them have
  // passed since the hook was last asked, asks it. True: stop now.
  bool poll(std::size_t work) {
    since_asked_ += work;
    if (since_asked_ < INTERRUPTION_POLL_WORK) return false;
    return check();
  }

  // Asks the hook now (between the few, larger steps of a search).
  bool check() {
    since_asked_ = 0;
    return stop_requested_ && stop_requested_();
  }

 private:
  std::function<bool()> stop_requested_;
  std::size_t since_asked_ = 0;
};

// The error of a failure that cannot be a stop (the operation was given a
// never-stopping Interruption).
inline core::EphemerisError error_of(StopOrError&& failure) {
  return std::get<core::EphemerisError>(std::move(failure));
}

}  // namespace tarvex::spk
