// Converters for Argument rows that the toolkit module's functions share:
// house systems and ayanamshas by their exact names in the core's tables
// (the Python layer normalises names; a refusal quotes the name as given),
// and steps in days.
#pragma once

#include <string_view>

#include "core/house_systems.hpp"
#include "python/handle.hpp"
#include "tarvexkit/native/sidereal_zodiacs.hpp"

namespace tarvex::kit {

// ValueError "unknown house system '{name}'".
bool to_house_method(PyObject* value, std::string_view parameter, core::HouseMethod& out);
// ValueError "unknown ayanamsha '{name}'".
bool to_sidereal_zodiac(PyObject* value, std::string_view parameter,
                        const SiderealZodiac*& out);
// A finite, positive number of days; ValueError "{parameter} must be a
// positive number of days".
bool to_step_days(PyObject* value, std::string_view parameter, double& out);

}  // namespace tarvex::kit
