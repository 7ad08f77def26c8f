// tarvexkit._native.Store: the kernels and time data of one tarvex engine,
// opened once, with array-in, array-out batch positions on worker threads
// and element-wise time conversions.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "python/heap_type.hpp"
#include "spk/spk_ephemeris.hpp"
#include "tarvexkit/native/time_arrays.hpp"

namespace tarvex::kit {

extern python::ClassSlot store_class;

// Whether `object` is a Store (or of a subclass).
bool is_store(PyObject* object);

// Leases `count` stores of the Store `store` (opening more when its pool
// runs short) for the duration of `body`, called with the interpreter lock
// held. The Store's readers() hook runs first. False with the exception set
// when it raises or a store cannot be opened; body is not called then.
bool with_stores(
    PyObject* store, std::size_t count,
    const std::function<void(std::span<spk::SpkEphemeris* const>)>& body);

// The CPUs this process may run on, as os.sched_getaffinity(0) counts them.
std::size_t usable_cpus() noexcept;

// The batch of Store.positions (bodies by name, Julian days of one scale)
// on one store leased from the Store `store`: a new (days, bodies, 4)
// float64 array whose values `data` points to, or empty with the exception
// set.
python::Ref store_batch(PyObject* store, const std::vector<std::string>& bodies,
                        std::span<const double> julian_days, core::TimeScale scale,
                        const core::PositionOptions& options, const double*& data);

// The Store's time conversions (immutable; no lease needed).
const TimeArrays& store_time_arrays(PyObject* store) noexcept;

}  // namespace tarvex::kit
