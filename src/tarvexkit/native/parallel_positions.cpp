#include "tarvexkit/native/parallel_positions.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace tarvex::kit {

namespace {

constexpr std::size_t COLUMNS = 4;

// What a slab does: write its positions, or only run the checks of its
// instants (time conversions and observer sites, which the engine makes
// before it evaluates anything).
enum class SlabWork { Fill, CheckInstants };

// What the workers share. The counter hands out slabs in array order;
// `stop` ends every worker after its current slab (an error while filling,
// or a cancel); `limit` ends them at the first slab known to fail a check.
struct Shared {
  Shared(const PositionsRequest& request_, double* out_, SlabWork work_)
      : request(request_), out(out_), work(work_), limit(request_.julian_days.size()) {}
  const PositionsRequest& request;
  double* out;
  SlabWork work;
  std::atomic<std::size_t> next_instant{0};
  std::atomic<std::size_t> limit;
  std::atomic<bool> stop{false};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable finished_changed;
  std::size_t finished = 0;
  std::exception_ptr exception;
  std::optional<core::EphemerisError> first_error;  // CheckInstants: of the slab at `limit`
};

void fill_slab(const spk::SpkEphemeris& store, Shared& shared, std::size_t begin,
               std::span<const core::Instant> instants) {
  double* const rows = shared.out + begin * shared.request.targets.size() * COLUMNS;
  spk::Interruption never;
  const auto filled = store.positions_into(shared.request.targets, instants, shared.request.options,
                                           [rows](std::size_t) { return rows; }, never);
  if (!filled || !*filled) {
    shared.failed.store(true, std::memory_order_relaxed);
    shared.stop.store(true, std::memory_order_relaxed);
  }
}

// The engine reports a slab's first failing instant; the slab earliest in
// the array holds the first failing instant of all.
void check_slab(const spk::SpkEphemeris& store, Shared& shared, std::size_t begin,
                std::span<const core::Instant> instants) {
  spk::Interruption never;
  auto checked = store.positions_into(shared.request.targets, instants, shared.request.options,
                                      [](std::size_t) -> double* { return nullptr; }, never);
  if (checked) return;
  std::lock_guard lock(shared.mutex);
  if (begin < shared.limit.load(std::memory_order_relaxed)) {
    shared.limit.store(begin, std::memory_order_relaxed);
    shared.first_error = spk::error_of(std::move(checked.error()));
  }
}

void work(const spk::SpkEphemeris& store, Shared& shared) {
  const PositionsRequest& request = shared.request;
  try {
    std::vector<core::Instant> instants;
    instants.reserve(SLAB_INSTANTS);
    while (!shared.stop.load(std::memory_order_relaxed)) {
      const std::size_t begin =
          shared.next_instant.fetch_add(SLAB_INSTANTS, std::memory_order_relaxed);
      const std::size_t end = shared.limit.load(std::memory_order_relaxed);
      if (begin >= end) break;
      const std::size_t count = std::min(SLAB_INSTANTS, request.julian_days.size() - begin);
      instants.clear();
      for (double julian_day : request.julian_days.subspan(begin, count)) {
        instants.push_back({julian_day, request.scale});
      }
      if (shared.work == SlabWork::Fill) {
        fill_slab(store, shared, begin, instants);
      } else {
        check_slab(store, shared, begin, instants);
      }
    }
  } catch (...) {
    std::lock_guard lock(shared.mutex);
    if (!shared.exception) shared.exception = std::current_exception();
    shared.stop.store(true, std::memory_order_relaxed);
  }
  {
    std::lock_guard lock(shared.mutex);
    ++shared.finished;
  }
  shared.finished_changed.notify_all();
}

// Runs the workers and waits for them, calling `keep_going` every poll
// interval; true if it asked to cancel.
bool drive(std::span<spk::SpkEphemeris* const> stores, Shared& shared,
           const std::function<bool()>& keep_going) {
  // One slab is done in this thread: a thread of its own would cost more
  // than a small request, and one slab ends soon enough to answer Ctrl-C.
  if (shared.request.julian_days.size() <= SLAB_INSTANTS) {
    work(*stores.front(), shared);
    if (shared.exception) std::rethrow_exception(shared.exception);
    return false;
  }
  const std::size_t worker_count = useful_workers(shared.request.julian_days.size(), stores.size());
  std::vector<std::thread> workers;
  workers.reserve(worker_count);
  bool cancelled = false;
  try {
    for (std::size_t index = 0; index < worker_count; ++index) {
      workers.emplace_back(work, std::cref(*stores[index]), std::ref(shared));
    }
    std::unique_lock lock(shared.mutex);
    while (shared.finished < workers.size()) {
      if (shared.finished_changed.wait_for(lock, std::chrono::milliseconds(POLL_INTERVAL_MS),
                                           [&] { return shared.finished == workers.size(); })) {
        break;
      }
      if (cancelled) continue;
      lock.unlock();
      if (!keep_going()) {
        cancelled = true;
        shared.stop.store(true, std::memory_order_relaxed);
      }
      lock.lock();
    }
  } catch (...) {
    // A thread that could not start, or a failing callback: stop the others
    // before they outlive the request they read.
    shared.stop.store(true, std::memory_order_relaxed);
    for (std::thread& worker : workers) worker.join();
    throw;
  }
  for (std::thread& worker : workers) worker.join();
  if (shared.exception) std::rethrow_exception(shared.exception);
  return cancelled;
}

}  // namespace

std::size_t useful_workers(std::size_t instant_count, std::size_t threads) noexcept {
  const std::size_t slabs = (instant_count + SLAB_INSTANTS - 1) / SLAB_INSTANTS;
  return std::max<std::size_t>(1, std::min(threads, slabs));
}

SlabsOutcome run_slabs(std::span<spk::SpkEphemeris* const> stores, const PositionsRequest& request,
                       double* out, const std::function<bool()>& keep_going) {
  Shared shared(request, out, SlabWork::Fill);
  // A cancel wins over a failure: the caller asked for no answer at all.
  if (drive(stores, shared, keep_going)) return SlabsOutcome::Cancelled;
  return shared.failed.load() ? SlabsOutcome::Failed : SlabsOutcome::Done;
}

SlabsOutcome check_instants(std::span<spk::SpkEphemeris* const> stores,
                            const PositionsRequest& request,
                            const std::function<bool()>& keep_going,
                            std::optional<core::EphemerisError>& first_error) {
  Shared shared(request, nullptr, SlabWork::CheckInstants);
  if (drive(stores, shared, keep_going)) return SlabsOutcome::Cancelled;
  first_error = std::move(shared.first_error);
  return first_error ? SlabsOutcome::Failed : SlabsOutcome::Done;
}

std::expected<void, core::EphemerisError> positions_in_order(const spk::SpkEphemeris& store,
                                                             const PositionsRequest& request,
                                                             double* out) {
  std::vector<core::Instant> instants;
  instants.reserve(request.julian_days.size());
  for (double julian_day : request.julian_days) instants.push_back({julian_day, request.scale});
  spk::Interruption never;
  auto filled = store.positions_into(request.targets, instants, request.options,
                                     [out](std::size_t) { return out; }, never);
  if (!filled) return std::unexpected(spk::error_of(std::move(filled.error())));
  return {};
}

std::expected<void, core::EphemerisError> check_request(const spk::SpkEphemeris& store,
                                                        const PositionsRequest& request) {
  // With no instants, positions_into stops at the allocation, after every
  // check that does not look at an instant.
  spk::Interruption never;
  auto checked = store.positions_into(request.targets, {}, request.options,
                                      [](std::size_t) -> double* { return nullptr; }, never);
  if (!checked) return std::unexpected(spk::error_of(std::move(checked.error())));
  return {};
}

}  // namespace tarvex::kit
