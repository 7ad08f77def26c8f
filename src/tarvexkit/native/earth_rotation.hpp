// tarvexkit._native.EarthRotation: the leap-second kernel and Earth
// orientation table of a store (shared with the store's parsed tables, or
// opened from files when made directly), turning apparent places of
// date into altitude, azimuth and hour angle over arrays with the engine's
// own UT1, TT and pole (core/local_horizon.hpp).
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "core/types.hpp"
#include "python/heap_type.hpp"
#include "spk/engine_time.hpp"

namespace tarvex::kit {

extern python::ClassSlot earth_rotation_class;

// The time data of an EarthRotation, nullptr (with TypeError set) for any
// other object. It lives as long as the object.
const spk::EngineTime* earth_rotation_time(PyObject* object);

struct HorizonFailure {
  std::size_t index = 0;
  std::string message;
};

// Altitude, azimuth and hour angle (degrees) of places of date (right
// ascension ra[i * bodies + j], declination dec[...]) at `days`: out[3k],
// out[3k+1], out[3k+2] for k = i * bodies + j. The first instant that fails
// stops the loop. Uses the rotation of core/local_horizon.hpp with the UT1,
// TT and pole of `engine_time`.
std::optional<HorizonFailure> fill_horizon(const spk::EngineTime& engine_time,
                                           core::TimeScale scale, std::span<const double> days,
                                           std::span<const double> ra, std::span<const double> dec,
                                           const core::GeodeticObserver& site, std::size_t bodies,
                                           double* out);

// A new EarthRotation over the time kernels already attached to
// `store_time` (copies of the parsed tables: no file is read); nullptr with
// ValueError when a kernel is missing.
PyObject* new_earth_rotation(const spk::EngineTime& store_time);

}  // namespace tarvex::kit
