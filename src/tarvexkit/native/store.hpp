// tarvexkit._native.Store: the kernels and time data of one tarvex engine,
// opened once, with array-in, array-out batch positions on worker threads
// and element-wise time conversions.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "python/heap_type.hpp"
#include "spk/spk_ephemeris.hpp"

namespace tarvex::kit {

extern python::ClassSlot store_class;

// Whether `object` is a Store (or of a subclass).
bool is_store(PyObject* object);

// Leases `count` stores of the Store `store` (opening more when its pool
// runs short) for the duration of `body`, called with the interpreter lock
// held. The message when a store cannot be opened; body is not called then.
std::optional<std::string> with_stores(
    PyObject* store, std::size_t count,
    const std::function<void(std::span<spk::SpkEphemeris* const>)>& body);

// The CPUs this process may run on, as os.sched_getaffinity(0) counts them.
std::size_t usable_cpus() noexcept;

}  // namespace tarvex::kit
