// Result value classes of the module: Position, DateRange and
// KernelMetadata. Each instance holds one core value; only the module
// creates them.
#pragma once

#include "core/types.hpp"
#include "python/heap_type.hpp"

namespace tarvex::python {

extern ClassSlot position_class;
extern ClassSlot date_range_class;
extern ClassSlot kernel_metadata_class;

PyObject* new_position(const core::Position& position);
PyObject* new_date_range(double start_julian_day, double end_julian_day,
                         core::TimeScale time_scale);
PyObject* new_kernel_metadata(const core::EphemerisMetadata& metadata);

}  // namespace tarvex::python
