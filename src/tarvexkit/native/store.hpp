// tarvexkit._native.Store: the kernels and time data of one tarvex engine,
// opened once, with array-in, array-out batch positions on worker threads
// and element-wise time conversions.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "core/types.hpp"
#include "python/heap_type.hpp"
#include "tarvexkit/native/time_arrays.hpp"

namespace tarvex::kit {

extern python::ClassSlot store_class;

// Whether `object` is a tarvexkit._native.Store.
bool is_store(PyObject* object) noexcept;

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
